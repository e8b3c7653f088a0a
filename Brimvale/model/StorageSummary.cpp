#include "model/StorageSummary.h"

#include <algorithm>
#include <set>
#include <unordered_map>

#include "QuenwickCore/DeletionGuard.h"
#include "model/Saturating.h"

namespace brimvale {
namespace {

using quenwick::FileTree;

QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
}

}  // namespace

std::vector<StorageSummary::Category> StorageSummary::categories(const AppEnvironment& env) {
    const std::string& h = env.home;
    auto inHome = [&](const char* relative) { return (h == "/" ? "" : h) + "/" + relative; };
    auto userDir = [&](const char* key) -> std::string {
        const auto it = env.userDirs.find(key);
        return it == env.userDirs.end() ? std::string() : it->second;
    };
    std::vector<Category> list = {
        {"apps",
         "Apps",
         rgb(0.25, 0.66, 0.71),
         {},
         {"/Applications", "/usr", "/opt", "/var/lib/flatpak", inHome(".local/share/flatpak"),
          env.dataHome + "/flatpak"}},
        {"docs",
         "Documents",
         rgb(0.79, 0.64, 0.37),
         {},
         {inHome("Documents"), inHome("Desktop"), inHome("Downloads"), userDir("DOCUMENTS"),
          userDir("DESKTOP"), userDir("DOWNLOAD")}},
        {"media",
         "Photos & Media",
         rgb(0.85, 0.47, 0.37),
         {},
         {inHome("Pictures"), inHome("Movies"), inHome("Music"), inHome("Videos"),
          userDir("PICTURES"), userDir("VIDEOS"), userDir("MUSIC")}},
        {"dev",
         "Developer",
         rgb(0.55, 0.48, 0.72),
         {},
         {inHome("Library/Developer"), inHome("Developer"), inHome(".rustup"), inHome(".cargo"),
          inHome("go"), inHome(".m2"), inHome(".gradle"), inHome("Android")}},
        {"icloud", "iCloud Drive", rgb(0.31, 0.62, 0.49), {}, {inHome("Library/Mobile Documents")}},
        {"trash", "Trash", rgb(0.54, 0.6, 0.36), {}, {inHome(".Trash"), env.dataHome + "/Trash"}},
        {"other", "System & Other", rgb(0.62, 0.62, 0.62), rgb(0.5, 0.5, 0.5), {}},
    };
    const std::string home = quenwick::DeletionGuard::normalise(h);
    std::set<std::string> seen;
    for (auto& c : list) {
        if (!c.darkColor.isValid()) c.darkColor = c.color;
        std::vector<std::string> kept;
        for (const auto& p : c.paths) {
            if (p.empty() || p.front() != '/') continue;
            const std::string n = quenwick::DeletionGuard::normalise(p);
            // A user folder set to the home folder (or "/") would claim everything.
            if (n == home || n == "/") continue;
            if (seen.insert(n).second) kept.push_back(n);
        }
        c.paths = std::move(kept);
    }
    return list;
}

StorageSummary StorageSummary::compute(const std::vector<Category>& categories,
                                       const quenwick::VolumeInfo& volume, const FileTree* tree,
                                       uint64_t trashBytes, const QString& name) {
    std::vector<uint64_t> bytes(categories.size(), 0);
    if (tree != nullptr) {
        std::unordered_map<FileTree::Node, size_t> taken;
        for (size_t c = 0; c < categories.size(); ++c)
            for (const auto& p : categories[c].paths)
                if (const auto n = tree->nodeAtPath(p)) taken.emplace(*n, c);
        std::vector<uint64_t> inner(categories.size(), 0);
        for (const auto& [node, c] : taken) {
            bytes[c] = saturatingAdd(bytes[c], tree->size(node));
            // What a listed folder holds inside another listed folder counts only once.
            for (FileTree::Node a = tree->parent(node); a != FileTree::none; a = tree->parent(a)) {
                if (const auto it = taken.find(a); it != taken.end()) {
                    inner[it->second] = saturatingAdd(inner[it->second], tree->size(node));
                    break;
                }
            }
        }
        for (size_t c = 0; c < categories.size(); ++c)
            bytes[c] = bytes[c] >= inner[c] ? bytes[c] - inner[c] : 0;
    }

    StorageSummary s;
    s.name = name;
    s.total = volume.total;
    s.available = volume.availableForImportantUsage;
    const uint64_t used = s.total - std::min<uint64_t>(s.available, s.total);
    uint64_t sum = 0;
    for (size_t c = 0; c < categories.size(); ++c) {
        const Category& cat = categories[c];
        if (cat.id == QLatin1String("other")) continue;
        uint64_t b = bytes[c];
        if (cat.id == QLatin1String("trash")) {
            b = std::max(trashBytes, b);
            s.trash = b;
        }
        if (b == 0) continue;
        s.slices.push_back({cat.id, cat.title, b, cat.color, cat.darkColor});
        sum = saturatingAdd(sum, b);
    }
    for (const Category& cat : categories) {
        if (cat.id != QLatin1String("other")) continue;
        s.slices.push_back(
            {cat.id, cat.title, used >= sum ? used - sum : 0, cat.color, cat.darkColor});
    }
    return s;
}

}  // namespace brimvale
