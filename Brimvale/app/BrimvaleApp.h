#pragma once

// The application object: reads the launch options, then builds the GUI application, the model
// and the views, and runs the event loop. main() does nothing else.
namespace brimvale {

class BrimvaleApp {
public:
    BrimvaleApp() = delete;

    // The process's exit status.
    [[nodiscard]] static int run(int argc, char** argv);
};

}  // namespace brimvale
