#include "Shoreline/PackageCachesRule.h"

#include <algorithm>

#include "PathText.h"

namespace shoreline {
namespace {

using quenwick::FileTree;

constexpr uint64_t kMinBytes = 10 * 1'048'576;

// Where a table path starts: the home folder, $XDG_CACHE_HOME or $XDG_DATA_HOME.
enum class Base { home, cache, data };

struct Place {
    Base base;
    std::string_view path;
    std::string_view label;
};

// Quick to refetch.
const std::vector<Place> kDownload = {
    {Base::home, ".npm/_cacache", "npm"},     {Base::home, ".gradle/caches", "Gradle"},
    {Base::home, ".cache/pip", "pip"},        {Base::cache, "pip", "pip"},
    {Base::home, ".cache/yarn", "Yarn"},      {Base::cache, "yarn", "Yarn"},
    {Base::home, ".cargo/registry", "Cargo"}, {Base::home, ".cargo/git", "Cargo"},
    {Base::home, ".pnpm-store", "pnpm"},      {Base::home, "Library/pnpm/store", "pnpm"},
    {Base::data, "pnpm/store", "pnpm"},       {Base::home, ".bun/install/cache", "Bun"},
    {Base::home, ".nuget/packages", "NuGet"}, {Base::home, ".cache/node-gyp", "node-gyp"},
    {Base::cache, "node-gyp", "node-gyp"},    {Base::cache, "uv", "uv"},
    {Base::cache, "composer", "Composer"},
};

// Compiler caches: the next build fills them again.
const std::vector<Place> kBuild = {
    {Base::cache, "go-build", "Go"},
    {Base::cache, "ccache", "ccache"},
    {Base::home, ".ccache", "ccache"},
    {Base::cache, "sccache", "sccache"},
};

// Slow to refetch: large downloads, model weights among them, which are never proposed as safe.
const std::vector<Place> kSlow = {
    {Base::home, "go/pkg/mod", "Go modules"},
    {Base::home, ".m2/repository", "Maven"},
    {Base::home, ".cocoapods/repos", "CocoaPods specs"},
    {Base::home, ".cache/huggingface", "Hugging Face models"},
    {Base::cache, "huggingface", "Hugging Face models"},
    {Base::cache, "torch", "PyTorch models"},
    {Base::cache, "whisper", "Whisper models"},
    {Base::cache, "lm-studio", "LM Studio models"},
    {Base::home, ".ollama/models", "Ollama models"},
};

std::string resolve(const ShorelineContext& ctx, const Place& place) {
    switch (place.base) {
        case Base::cache:
            return detail::join(ctx.cacheHome, place.path);
        case Base::data:
            return detail::join(ctx.dataHome, place.path);
        case Base::home:
            break;
    }
    return ctx.inHome(place.path);
}

std::string reasonFor(PackageCachesRule::Kind kind, std::string_view label) {
    const std::string l(label);
    switch (kind) {
        case PackageCachesRule::Kind::download:
            return l + " download cache — refetched when needed.";
        case PackageCachesRule::Kind::build:
            return l + " build cache — rebuilt by the next build.";
        case PackageCachesRule::Kind::slow:
            break;
    }
    return l + " cache — refetched when needed, which can take a while.";
}

}  // namespace

std::vector<PackageCachesRule::Entry> PackageCachesRule::entries(const ShorelineContext& ctx) {
    std::vector<Entry> out;
    const auto add = [&](const std::vector<Place>& table, Kind kind) {
        for (const auto& place : table)
            out.push_back({resolve(ctx, place), place.label, kind});
    };
    add(kDownload, Kind::download);
    add(kBuild, Kind::build);
    add(kSlow, Kind::slow);
    return out;
}

std::vector<Candidate> PackageCachesRule::candidates(const ShorelineContext& ctx) const {
    std::vector<Candidate> out;
    std::vector<FileTree::Node> proposed;
    for (const auto& entry : entries(ctx)) {
        const FileTree::Node n = ctx.nodeAt(entry.path);
        if (n == FileTree::none || ctx.tree->size(n) < kMinBytes) continue;
        // Two spellings of one place ($XDG_CACHE_HOME is ~/.cache) make one candidate.
        if (std::find(proposed.begin(), proposed.end(), n) != proposed.end()) continue;
        proposed.push_back(n);
        out.push_back({n, entry.kind == Kind::slow ? Safety::review : Safety::safe,
                       reasonFor(entry.kind, entry.label)});
    }
    return out;
}

}  // namespace shoreline
