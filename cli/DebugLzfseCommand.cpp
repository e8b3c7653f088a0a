// brimvale-cli debug lzfse (encode | decode) IN OUT: runs the codec on one file, for interop
// checks against other LZFSE implementations.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CliSupport.h"
#include "CommandRegistry.h"
#include "Lzfse/Lzfse.h"
#include "QuenwickCore/AtomicFile.h"

namespace brimvale::cli {
namespace {

// Decoding may produce at most 4096 times the stream's size, and never more than 64 GiB:
// valid streams expand about 2000 times at the very most, so only a hostile or damaged stream
// meets the limit, and it cannot make us allocate without bound.
constexpr std::uint64_t kMaxExpansion = 4096;
constexpr std::uint64_t kMaxOutput = std::uint64_t{64} << 30;

struct LzfseArgs {
    std::string mode;
    std::string in;
    std::string out;
    unsigned threads = 1;
};

// The whole file, or the reason it could not be read.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& data, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        data.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            why = std::strerror(errno);
            ::close(fd);
            return false;
        }
        data.insert(data.end(), buffer, buffer + n);
    }
    ::close(fd);
    return true;
}

int runLzfse(const LzfseArgs& args) {
    const std::string in = absolutePath(args.in);
    const std::string out = absolutePath(args.out);
    std::vector<std::uint8_t> input;
    std::string why;
    if (!readWholeFile(in, input, why)) return fail("cannot read " + in + ": " + why);

    const lzfse::Options options{std::max(args.threads, 1u)};
    std::vector<std::uint8_t> result;
    if (args.mode == "encode") {
        result = lzfse::encode(input, options);
    } else {
        const std::uint64_t limit =
            std::min<std::uint64_t>(kMaxOutput, std::uint64_t{input.size()} * kMaxExpansion);
        lzfse::Decoded decoded = lzfse::decode(input, limit, options);
        if (!decoded.ok()) {
            return fail(in + ": not a valid LZFSE stream: " +
                        std::string(lzfse::describe(decoded.error->error)) + " (block at byte " +
                        std::to_string(decoded.error->blockOffset) + ")");
        }
        result = std::move(decoded.bytes);
    }
    const std::string_view bytes(reinterpret_cast<const char*>(result.data()), result.size());
    if (const auto error = quenwick::writeFileAtomically(out, bytes, quenwick::kOrdinaryFileMode)) {
        return fail("cannot write " + out + ": " + error.message());
    }
    return kExitOk;
}

const CommandRegistry::Registration registration([](CLI::App& app) {
    auto args = std::make_shared<LzfseArgs>();
    auto* debug = app.add_subcommand("debug", "Tools for checking Brimvale's parts one by one");
    debug->require_subcommand(1);
    auto* cmd =
        debug->add_subcommand("lzfse", "Compress or decompress one file as an LZFSE stream");
    cmd->add_option("mode", args->mode, "encode or decode")
        ->required()
        ->check(CLI::IsMember({"encode", "decode"}));
    cmd->add_option("IN", args->in, "File to read")->required();
    cmd->add_option("OUT", args->out, "File to write (replaced atomically)")->required();
    cmd->add_option("--threads", args->threads, "Threads to use (default 1)")
        ->check(wholeNumber(1, 64));
    return [args] { return runLzfse(*args); };
});

}  // namespace
}  // namespace brimvale::cli
