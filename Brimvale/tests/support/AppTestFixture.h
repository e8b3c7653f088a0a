#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "QuenwickCore/FileTree.h"
#include "TestSupport.h"
#include "model/AppModel.h"

// A temporary home with HOME and the XDG folders pointing into it (restored afterwards), real
// trees scanned from it, and a model of the tests' own built for that home.
namespace brimvale::testing {

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A model for this home (its eraser stages into the home's cache folder).
    std::unique_ptr<AppModel> makeModel();
    // The same with other services; waits until the model's first background step is done.
    static std::unique_ptr<AppModel> makeModel(AppModel::Services services);
    AppModel::Services services() const;

    // A real scan of path.
    static std::shared_ptr<quenwick::FileTree> scan(const std::string& path);
    // Scans path and shows it in the model as a folder target.
    void show(AppModel& model, const std::string& path,
              std::optional<quenwick::VolumeInfo> volume = std::nullopt);

    // Runs the event loop until pred holds or the time is up; the result of pred.
    static bool waitFor(const std::function<bool()>& pred,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Stages and waits until the model settled the request.
    static void stageAndWait(AppModel& model, const std::string& path);
    // Starts a removal and waits for its result.
    static std::optional<TrashResult> removeAndWait(AppModel& model, bool permanent);

    static bool exists(const std::string& path);
    void setEnv(const std::string& name, const std::string& value);

    quenwick::testing::TempDir root;
    std::string home, data, cache, config, work;

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace brimvale::testing
