#pragma once

#include <memory>

class QCoreApplication;

// The process's Qt application object, for the verbs whose libraries use Qt's platform services
// (settings, the session and system buses): those run their event threads beside it and never
// make one. It sees only the program name. Made and destroyed on the main thread; at most one.
namespace brimvale::cli {

class QtApplication {
public:
    QtApplication();
    ~QtApplication();
    QtApplication(const QtApplication&) = delete;
    QtApplication& operator=(const QtApplication&) = delete;

private:
    int argc_ = 1;
    char name_[16] = "brimvale-cli";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};

}  // namespace brimvale::cli
