#include "demo/DemoTree.h"

#include <random>
#include <string_view>

namespace brimvale::demo {
namespace {

using quenwick::FileTree;
using quenwick::NodeFlags;
using Node = FileTree::Node;

constexpr uint64_t KB = 1'000;
constexpr uint64_t MB = 1'000'000;
constexpr uint64_t GB = 1'000'000'000;
constexpr int64_t day = 86'400;

struct Builder {
    FileTree& tree;
    int64_t now;
    std::mt19937_64 rng{20261210};

    uint64_t pick(uint64_t lo, uint64_t hi) {
        return std::uniform_int_distribution<uint64_t>(lo, hi)(rng);
    }
    int64_t ago(int64_t days) { return now - days * day - static_cast<int64_t>(pick(0, day - 1)); }
    Node dir(Node parent, std::string_view name, int64_t ageDays = 3) {
        return tree.append(parent, name, 0, ago(ageDays), tree.count() + 1, NodeFlags::directory);
    }
    // A folder path below parent, made as needed ("a/b/c").
    Node dirs(Node parent, std::string_view path, int64_t ageDays = 3) {
        while (!path.empty()) {
            const size_t slash = path.find('/');
            const std::string_view name = path.substr(0, slash);
            Node found = FileTree::none;
            for (Node c = tree.firstChild(parent); c != FileTree::none; c = tree.nextSibling(c))
                if (tree.nameBytes(c) == name) found = c;
            parent = found != FileTree::none ? found : dir(parent, name, ageDays);
            path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        }
        return parent;
    }
    Node file(Node parent, std::string_view name, uint64_t size, int64_t ageDays = 3) {
        return tree.append(parent, name, size, ago(ageDays), tree.count() + 1, {});
    }
    // count files of about `each` bytes named prefix-N.ext.
    void files(Node parent, std::string_view prefix, std::string_view ext, int count, uint64_t each,
               int64_t ageDays) {
        for (int i = 0; i < count; ++i)
            file(parent,
                 std::string(prefix) + "-" + std::to_string(1000 + i) + "." + std::string(ext),
                 each / 2 + pick(0, each), ageDays + static_cast<int64_t>(pick(0, 20)));
    }
    // A spread of nested folders holding `count` small files in all (a dependency tree, a
    // system library folder).
    void crowd(Node parent, int count, uint64_t each, int64_t ageDays, int fanout = 24) {
        static constexpr std::string_view kNames[] = {"lib",   "dist",   "src",  "core",
                                                      "utils", "esm",    "cjs",  "types",
                                                      "build", "vendor", "test", "data"};
        int left = count;
        for (int i = 0; left > 0; ++i) {
            const Node d =
                dir(parent, std::string(kNames[i % 12]) + "-" + std::to_string(i), ageDays);
            const int here = std::min(left, fanout);
            files(d, "module", i % 3 == 0 ? "js" : "so", here, each, ageDays);
            left -= here;
        }
    }
};

void buildSystem(Builder& b) {
    const Node usr = b.dir(FileTree::root, "usr", 40);
    b.crowd(b.dirs(usr, "lib/x86_64-linux-gnu", 40), 6000, 900 * KB, 40, 40);
    b.crowd(b.dirs(usr, "share", 40), 7000, 120 * KB, 60, 50);
    b.crowd(b.dirs(usr, "bin", 40), 1800, 400 * KB, 40, 60);
    b.crowd(b.dirs(usr, "lib/jvm/java-17-openjdk-amd64", 200), 900, 300 * KB, 200);
    b.file(b.dirs(usr, "lib/firmware", 40), "iwlwifi-firmware.pack", 1200 * MB, 40);
    b.crowd(b.dirs(usr, "src/linux-headers-6.1.0-27-amd64", 30), 1600, 200 * KB, 30);
    const Node opt = b.dir(FileTree::root, "opt", 30);
    b.crowd(b.dirs(opt, "blender-4.2", 30), 900, 1500 * KB, 30);
    b.crowd(b.dirs(opt, "android-studio", 120), 1200, 1200 * KB, 120);
    const Node var = b.dir(FileTree::root, "var", 1);
    b.crowd(b.dirs(var, "lib/flatpak/runtime", 20), 2400, 2500 * KB, 20);
    b.files(b.dirs(var, "cache/apt/archives", 5), "package", "deb", 180, 6 * MB, 5);
    b.files(b.dirs(var, "log/journal", 1), "system", "journal", 40, 25 * MB, 1);
    b.files(b.dirs(var, "lib/docker/overlay2", 15), "layer", "tar", 60, 180 * MB, 15);
    b.files(b.dir(FileTree::root, "boot", 30), "initrd.img", "amd64", 3, 70 * MB, 30);
    b.file(FileTree::root, "swapfile", 8 * GB, 90);
}

void buildProjects(Builder& b, Node home) {
    const Node projects = b.dir(home, "Projects", 1);
    struct Project {
        const char* name;
        const char* marker;
        const char* deps;  // nullptr: none
        int depFiles;
        uint64_t depEach;
        int64_t age;  // days since the project was last touched
    };
    const Project list[] = {
        {"storefront-web", "package.json", "node_modules", 9000, 60 * KB, 2},
        {"design-system", "package.json", "node_modules", 7000, 55 * KB, 64},
        {"old-portfolio", "package.json", "node_modules", 5200, 50 * KB, 410},
        {"telemetry-rs", "Cargo.toml", "target", 2600, 2400 * KB, 45},
        {"route-planner", "Cargo.toml", "target", 1800, 1800 * KB, 3},
        {"ml-notebooks", "requirements.txt", ".venv", 3200, 900 * KB, 120},
        {"home-automation", "pyproject.toml", nullptr, 0, 0, 9},
    };
    for (const auto& p : list) {
        const Node project = b.dir(projects, p.name, p.age);
        b.file(project, p.marker, 2 * KB, p.age);
        b.file(project, "README.md", 6 * KB, p.age);
        b.crowd(b.dir(project, "src", p.age), 260, 14 * KB, p.age, 30);
        b.dir(project, ".git", p.age);
        b.files(b.dirs(project, ".git/objects/pack", p.age), "pack", "pack", 4, 40 * MB, p.age);
        if (p.deps) b.crowd(b.dir(project, p.deps, p.age), p.depFiles, p.depEach, p.age, 40);
    }
    // A game engine build without a marker the rules know: a folder people delete by hand.
    const Node engine = b.dir(projects, "voxel-engine", 12);
    b.file(engine, "CMakeLists.txt", 4 * KB, 12);
    b.crowd(b.dir(engine, "src", 12), 900, 20 * KB, 12);
    b.files(b.dirs(engine, "build/release", 12), "object", "o", 1400, 3 * MB, 12);
    b.files(b.dirs(engine, "assets/textures", 30), "texture", "ktx2", 300, 14 * MB, 30);
}

void buildMedia(Builder& b, Node home, std::vector<std::pair<std::string, std::string>>& dups) {
    const std::string h = b.tree.path(home);
    const Node videos = b.dir(home, "Videos", 2);
    b.files(b.dir(videos, "Iceland 2025", 200), "clip", "mp4", 140, 260 * MB, 200);
    b.files(b.dir(videos, "Wedding Anna & Jo", 420), "camera-a", "mov", 36, 1400 * MB, 420);
    b.files(b.dir(videos, "Screen recordings", 20), "recording", "webm", 60, 180 * MB, 20);
    const Node render = b.dir(videos, "Exports", 8);
    b.file(render, "iceland-final-4k.mp4", 9 * GB, 190);
    b.file(render, "wedding-film-master.mov", 26 * GB, 400);
    b.file(render, "channel-trailer.mp4", 650 * MB, 8);

    const Node photos = b.dir(home, "Pictures", 1);
    for (int year = 2019; year <= 2026; ++year) {
        const int64_t age = (2026 - year) * 365 + 10;
        const Node y = b.dir(photos, std::to_string(year), age);
        for (int month = 1; month <= 12; month += 1) {
            const Node m = b.dir(y, (month < 10 ? "0" : "") + std::to_string(month), age);
            b.files(m, "IMG", "jpg", 70 + year - 2019, 5 * MB, age);
            if (year >= 2024 && month % 3 == 0) b.files(m, "DSC", "raf", 18, 40 * MB, age);
        }
    }
    const Node exports = b.dir(photos, "Exports", 30);
    b.file(exports, "panorama-skogafoss.tif", 1100 * MB, 200);
    b.file(exports, "calendar-2026.pdf", 320 * MB, 60);

    const Node music = b.dir(home, "Music", 300);
    for (int album = 0; album < 40; ++album)
        b.files(b.dir(music, "Album " + std::to_string(album + 1), 300), "track", "flac", 11,
                28 * MB, 300);

    const Node docs = b.dir(home, "Documents", 1);
    b.crowd(b.dir(docs, "Taxes", 100), 300, 400 * KB, 100);
    b.crowd(b.dir(docs, "Manuals", 400), 200, 3 * MB, 400);
    const Node archive = b.dir(docs, "Archive", 220);
    b.file(archive, "thesis-backup-2021.zip", 2400 * MB, 900);
    b.file(archive, "phone-photos-2022.zip", 6800 * MB, 700);

    const Node downloads = b.dir(home, "Downloads", 0);
    b.file(downloads, "debian-12.8.0-amd64-DVD-1.iso", 3900 * MB, 210);
    b.file(downloads, "ubuntu-24.04.1-desktop-amd64.iso", 6100 * MB, 330);
    b.file(downloads, "code_1.95.3-amd64.deb", 105 * MB, 40);
    b.file(downloads, "steam_latest.deb", 4 * MB, 500);
    b.file(downloads, "discord-0.0.76.deb", 98 * MB, 120);
    b.file(downloads, "Fedora-Workstation-Live-41.iso", 2300 * MB, 95);
    b.file(downloads, "conference-talk-recording.mp4", 2900 * MB, 260);
    b.file(downloads, "dataset-city-trips.csv.gz", 780 * MB, 150);
    b.file(downloads, "invoice-2026-11.pdf", 300 * KB, 4);
    b.files(b.dir(downloads, "screenshots", 12), "Screenshot", "png", 220, 900 * KB, 12);
    // Copies downloaded again or saved twice.
    b.file(videos, "iceland-final-4k (1).mp4", 9 * GB, 150);
    b.file(docs, "thesis-backup-2021 (1).zip", 2400 * MB, 160);
    b.file(b.dir(home, "Desktop", 5), "panorama-skogafoss copy.tif", 1100 * MB, 120);
    dups.emplace_back(h + "/Videos/Exports/iceland-final-4k.mp4",
                      h + "/Videos/iceland-final-4k (1).mp4");
    dups.emplace_back(h + "/Documents/Archive/thesis-backup-2021.zip",
                      h + "/Documents/thesis-backup-2021 (1).zip");
    dups.emplace_back(h + "/Pictures/Exports/panorama-skogafoss.tif",
                      h + "/Desktop/panorama-skogafoss copy.tif");

    b.file(b.dirs(home, "VirtualBox VMs/Windows 11", 260), "Windows 11.vdi", 42 * GB, 260);
    b.crowd(b.dirs(home, ".local/share/Steam/steamapps/common/Hollow Fields", 30), 2200, 12 * MB,
            30);
}

void buildCaches(Builder& b, Node home) {
    const Node cache = b.dir(home, ".cache", 0);
    b.files(b.dirs(cache, "thumbnails/large", 1), "thumb", "png", 2400, 60 * KB, 1);
    b.crowd(b.dirs(cache, "mozilla/firefox", 0), 1400, 700 * KB, 0);
    b.crowd(b.dirs(cache, "google-chrome/Default", 1), 1100, 900 * KB, 1);
    b.crowd(b.dirs(cache, "spotify/Data", 3), 600, 3 * MB, 3);
    b.crowd(b.dirs(cache, "pip/http", 25), 800, 1800 * KB, 25);
    b.crowd(b.dirs(cache, "yarn/v6", 40), 1500, 400 * KB, 40);
    b.crowd(b.dirs(cache, "go-build", 6), 900, 1200 * KB, 6);
    b.crowd(b.dirs(cache, "huggingface/hub", 70), 12, 900 * MB, 70);
    b.crowd(b.dirs(home, ".npm/_cacache", 14), 1600, 900 * KB, 14);
    b.crowd(b.dirs(home, ".cargo/registry", 20), 2000, 700 * KB, 20);
    b.crowd(b.dirs(home, ".gradle/caches", 150), 900, 2 * MB, 150);
    b.crowd(b.dirs(home, ".var/app/org.gimp.GIMP/cache", 10), 200, 2 * MB, 10);
    // An older home carried over from another computer, with its logs, build products and a
    // phone backup.
    b.files(b.dirs(home, "Library/Logs/DiagnosticReports", 300), "crash", "ips", 120, 2 * MB, 300);
    b.crowd(b.dirs(home, "Library/Developer/Xcode/DerivedData/Weather-abcdef", 300), 1200, 2 * MB,
            300);
    b.files(b.dirs(home, "Library/Application Support/MobileSync/Backup/00008110-001A2B3C", 500),
            "chunk", "bin", 300, 24 * MB, 500);

    // The Trash, in the freedesktop.org layout.
    const Node trash = b.dirs(home, ".local/share/Trash", 2);
    const Node trashed = b.dir(trash, "files", 2);
    b.file(trashed, "old-render.mov", 2300 * MB, 6);
    b.crowd(b.dir(trashed, "node_modules", 6), 1200, 60 * KB, 6);
    b.files(b.dir(trash, "info", 2), "entry", "trashinfo", 2, 200, 6);
}

}  // namespace

BuiltTree buildTree(const std::string& home, int64_t now) {
    BuiltTree built;
    built.tree = std::make_shared<FileTree>("/");
    built.tree->reserve(90'000);
    Builder b{*built.tree, now};
    buildSystem(b);
    const Node homeNode = b.dirs(FileTree::root, home.substr(1), 0);
    buildProjects(b, homeNode);
    buildMedia(b, homeNode, built.duplicates);
    buildCaches(b, homeNode);
    built.tree->propagateSizes();
    return built;
}

std::shared_ptr<FileTree> subtree(const FileTree& tree, const std::string& path) {
    const auto top = tree.nodeAtPath(path);
    if (!top || !tree.isDirectory(*top)) return nullptr;
    auto out = std::make_shared<FileTree>(path);
    std::vector<std::pair<Node, Node>> stack{{*top, FileTree::root}};
    while (!stack.empty()) {
        const auto [from, to] = stack.back();
        stack.pop_back();
        // children() lists most recently appended first: append in reverse to keep the order.
        const auto kids = tree.children(from);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
            const Node c = *it;
            const bool folder = tree.isDirectory(c);
            const Node copy = out->append(to, tree.nameBytes(c), folder ? 0 : tree.size(c),
                                          tree.mtime(c), tree.inode(c), tree.flags(c));
            if (folder) stack.emplace_back(c, copy);
        }
    }
    out->propagateSizes();
    return out;
}

}  // namespace brimvale::demo
