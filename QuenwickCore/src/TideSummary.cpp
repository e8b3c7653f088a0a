#include "QuenwickCore/TideSummary.h"

#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>

#include "QuenwickCore/BoundedJson.h"
#include "QuenwickCore/Utf8.h"

namespace quenwick {
namespace {

// Written in a fixed key order; read into a sorted map, which needs no order and looks keys up in
// logarithmic rather than linear time.
using Json = nlohmann::ordered_json;
using ReadJson = nlohmann::json;

std::string childPath(const std::string& parent, std::string_view name) {
    std::string path = parent;
    if (path != "/") path += '/';
    path += name;
    return path;
}

// Sizes keyed by exact bytes become display keys. Distinct byte paths that read the same (two
// sibling names with different invalid bytes) are one entry for the reader, so their sizes add up.
std::map<std::string, uint64_t> displayKeyed(std::map<std::string, uint64_t> exact) {
    bool allValid = true;
    for (const auto& entry : exact) {
        if (!utf8::isValid(entry.first)) {
            allValid = false;
            break;
        }
    }
    if (allValid) return exact;
    std::map<std::string, uint64_t> shown;
    for (const auto& [path, size] : exact) {
        if (utf8::isValid(path)) {
            shown[path] = size;
            continue;
        }
        auto [it, inserted] = shown.try_emplace(utf8::display(path), size);
        if (!inserted) it->second = size > UINT64_MAX - it->second ? UINT64_MAX : it->second + size;
    }
    return shown;
}

std::optional<uint64_t> unsignedMember(const ReadJson& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_unsigned()) return std::nullopt;
    return it->get<uint64_t>();
}

}  // namespace

TideSummary TideSummary::make(const FileTree& tree, const std::vector<std::string>& roots,
                              const std::optional<VolumeInfo>& volume, double date,
                              uint64_t minBytes, int maxDepth) {
    TideSummary summary;
    summary.date = date;
    if (volume) {
        summary.volumeTotal = volume->total;
        summary.volumeUsed = volume->used();
        summary.purgeable = volume->purgeable();
    }

    std::map<std::string, uint64_t> exact;
    struct Step {
        FileTree::Node node;
        std::string path;
        int depth;
    };
    std::vector<Step> walk;
    for (std::string root : roots) {
        if (root.empty() || root.front() != '/') continue;
        // "/home/ann/" names the same folder as "/home/ann"; keep the recorded paths
        // single-slashed.
        while (root.size() > 1 && root.back() == '/')
            root.pop_back();
        const auto start = tree.nodeAtPath(root);
        if (!start) continue;
        walk.push_back({*start, std::move(root), 0});
        while (!walk.empty()) {
            Step step = std::move(walk.back());
            walk.pop_back();
            const auto size = tree.size(step.node);
            if (size < minBytes || !tree.isDirectory(step.node)) continue;
            exact[step.path] = size;
            if (step.depth >= maxDepth) continue;
            for (const auto child : tree.children(step.node)) {
                walk.push_back(
                    {child, childPath(step.path, tree.nameBytes(child)), step.depth + 1});
            }
        }
    }
    summary.folders = displayKeyed(std::move(exact));
    return summary;
}

std::vector<std::string> TideSummary::standardRoots(const std::string& home) {
    std::vector<std::string> roots{home};
    for (const char* apps : {"/Applications", "/usr", "/opt", "/var/lib/flatpak"}) {
        struct stat st {};
        if (stat(apps, &st) == 0 && S_ISDIR(st.st_mode) && home != apps) roots.emplace_back(apps);
    }
    return roots;
}

std::string TideSummary::toJson() const {
    Json folderObject = Json::object();
    auto& members = folderObject.get_ref<Json::object_t&>();
    const auto shown = displayKeyed(folders);
    members.reserve(shown.size());
    // The keys come unique and sorted from the map: append them instead of searching the
    // ordered object for each one.
    for (const auto& [path, size] : shown)
        members.Container::emplace_back(path, size);
    Json json;
    json["date"] = date;
    json["volumeTotal"] = volumeTotal;
    json["volumeUsed"] = volumeUsed;
    json["purgeable"] = purgeable;
    json["folders"] = std::move(folderObject);
    // Keys are display strings already; `replace` only guards against a future slip.
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<TideSummary> TideSummary::fromJson(std::string_view text) {
    const auto parsed = boundedJson::parse(text);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    const ReadJson& json = *parsed;
    const auto date = json.find("date");
    if (date == json.end() || !date->is_number()) return std::nullopt;
    TideSummary summary;
    summary.date = date->get<double>();
    if (!std::isfinite(summary.date)) return std::nullopt;

    const auto total = unsignedMember(json, "volumeTotal");
    const auto used = unsignedMember(json, "volumeUsed");
    const auto purgeable = unsignedMember(json, "purgeable");
    if (!total || !used || !purgeable) return std::nullopt;
    summary.volumeTotal = *total;
    summary.volumeUsed = *used;
    summary.purgeable = *purgeable;

    const auto folders = json.find("folders");
    if (folders == json.end() || !folders->is_object()) return std::nullopt;
    for (const auto& [path, size] : folders->get_ref<const ReadJson::object_t&>()) {
        if (!size.is_number_unsigned()) return std::nullopt;
        summary.folders.emplace_hint(summary.folders.end(), path, size.get<uint64_t>());
    }
    return summary;
}

double TideSummary::now() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace quenwick
