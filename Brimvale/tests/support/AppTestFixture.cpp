#include "AppTestFixture.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>

#include "QuenwickCore/DiskScanner.h"

namespace brimvale::testing {

void AppTest::SetUp() {
    home = root / "home";
    data = home + "/.local/share";
    cache = home + "/.cache";
    config = home + "/.config";
    work = home + "/work";
    for (const auto& dir : {home, data, cache, config, work})
        ASSERT_TRUE(quenwick::testing::makeDirs(dir));
    setEnv("HOME", home);
    setEnv("XDG_DATA_HOME", data);
    setEnv("XDG_CACHE_HOME", cache);
    setEnv("XDG_CONFIG_HOME", config);
}

void AppTest::TearDown() {
    for (const auto& [name, value] : saved_) {
        if (value) {
            setenv(name.c_str(), value->c_str(), 1);
        } else {
            unsetenv(name.c_str());
        }
    }
}

void AppTest::setEnv(const std::string& name, const std::string& value) {
    if (saved_.count(name) == 0) {
        const char* old = std::getenv(name.c_str());
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    setenv(name.c_str(), value.c_str(), 1);
}

AppModel::Services AppTest::services() const {
    return AppModel::Services::forEnvironment(AppEnvironment::current());
}

std::unique_ptr<AppModel> AppTest::makeModel() {
    return makeModel(services());
}

std::unique_ptr<AppModel> AppTest::makeModel(AppModel::Services services) {
    auto model = std::make_unique<AppModel>(std::move(services));
    // The first background step reads the ledger and the startup volume.
    EXPECT_TRUE(waitFor([&] { return model->startupVolume().has_value(); }));
    return model;
}

std::shared_ptr<quenwick::FileTree> AppTest::scan(const std::string& path) {
    quenwick::DiskScanner scanner(quenwick::ScanOptions::forVolume(path), 2);
    return scanner.scan(path);
}

void AppTest::show(AppModel& model, const std::string& path,
                   std::optional<quenwick::VolumeInfo> volume) {
    model.setTarget(ScanTarget::folder(path));
    model.installTree(scan(path), volume);
}

bool AppTest::waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor(pred, static_cast<int>(timeout.count()));
}

void AppTest::stageAndWait(AppModel& model, const std::string& path) {
    QSignalSpy settled(&model, &AppModel::backgroundSettled);
    model.stagePath(path);
    EXPECT_TRUE(waitFor([&] { return settled.count() > 0; })) << path;
}

std::optional<TrashResult> AppTest::removeAndWait(AppModel& model, bool permanent) {
    QSignalSpy finished(&model, &AppModel::removalFinished);
    const bool started = permanent ? model.deleteImmediately() : model.moveToTrash();
    if (!started) return std::nullopt;
    if (!waitFor([&] { return finished.count() > 0; })) return std::nullopt;
    return finished.first().first().value<TrashResult>();
}

bool AppTest::exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace brimvale::testing
