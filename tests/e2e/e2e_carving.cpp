// torvane_e2e photo|signature: carves a disk image through the same core the
// Photo Search and the signature search use, headless.
//
//   torvane_e2e photo|signature --image IMG [--range FIRST:LAST] [--thorough]
//               [--types jpg,png,...] --out DIR [--signatures DIR]
//
// --range: the Start Sector and End Sector of the dialogs; the End Sector
//   itself is not read. Default: the whole image.
// --thorough: also run the Thorough pass (into "Omitted").
// --types: carve only these types (extensions, any case, without dots), as
//   the signature search's check-list does; without it every type.
// --signatures: the folder holding the signature data files (default: the
//   source tree's res/).
//
// The carved files go to DIR/<ProgramBaseName>/<Photo|Signature> Search/...
// Prints one line "files N folders N bytes N" (carved files, folders made or
// written into below DIR, bytes written) on standard output; messages and
// read failures (answered with Skip) on standard error.
// Exit code: 0 when the search ran, 1 on an error, 2 on bad usage.
#include "e2e_modes.h"

#include "carving/carving_search_job.h"
#include "carving/signature_file.h"
#include "carving/signature_selection.h"
#include "base/text_encoding.h"
#include "platform/device.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>

#ifndef TORVANE_RES_DIR
#define TORVANE_RES_DIR "res"
#endif

namespace torvane {
namespace {

struct CarvingOptions {
    std::string mode;
    std::string image;
    std::string range;
    std::string out;
    std::string signatures = TORVANE_RES_DIR;
    std::set<std::string> types;  // capitals; empty: every type
    bool thorough = false;
};

int CarvingUsage()
{
    std::cerr << "usage: torvane_e2e photo|signature --image IMG [--range FIRST:LAST] [--thorough] "
                 "[--types jpg,png,...] --out DIR [--signatures DIR]\n";
    return 2;
}

std::optional<std::uint64_t> ParseSector(const std::string& text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 19)
        return std::nullopt;
    return std::stoull(text);
}

class E2eCarvingEvents final : public CarvingEvents {
public:
    void OnError(const std::string& what) override { std::cerr << "error: " << what << "\n"; }
    void OnQuestion(const JobQuestion& q, std::function<void(int)> reply) override
    {
        if (q.kind == kReadFailureQuestion) {
            std::cerr << "read failure: skipped (unreadable sectors carved as zeros)\n";
            reply(kReadFailureSkip);
            return;
        }
        std::cerr << "message: " << q.text << "\n";
        reply(0);
    }
};

std::optional<SignatureDataFile> LoadDataFile(const CarvingOptions& options, const char* name)
{
    std::string reason;
    auto file = SignatureDataFile::Load(SignatureFilePath(options.signatures, name), &reason);
    if (!file)
        std::cerr << "Couldn't open source file: " << reason << "\n";
    return file;
}

}  // namespace

int RunCarvingMode(int argc, char** argv)
{
    CarvingOptions options;
    options.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (arg == "--image")
            options.image = value();
        else if (arg == "--range")
            options.range = value();
        else if (arg == "--out")
            options.out = value();
        else if (arg == "--signatures")
            options.signatures = value();
        else if (arg == "--thorough")
            options.thorough = true;
        else if (arg == "--types") {
            std::string list = value();
            std::size_t start = 0;
            while (start <= list.size()) {
                std::size_t comma = list.find(',', start);
                if (comma == std::string::npos)
                    comma = list.size();
                std::string type = AsciiUpper(list.substr(start, comma - start));
                if (!type.empty() && type.front() == '.')
                    type.erase(0, 1);
                if (!type.empty())
                    options.types.insert(type);
                start = comma + 1;
            }
        } else
            return CarvingUsage();
    }
    if (options.image.empty() || options.out.empty())
        return CarvingUsage();

    std::optional<std::uint64_t> first, last;
    if (!options.range.empty()) {
        const auto colon = options.range.find(':');
        first = ParseSector(options.range.substr(0, colon));
        last = colon == std::string::npos ? std::nullopt : ParseSector(options.range.substr(colon + 1));
        if (!first || !last)
            return CarvingUsage();
    }
    std::string error;
    DevicePtr device = OpenFileDevice(options.image, &error);
    if (!device) {
        std::cerr << "cannot open " << options.image << ": " << error << "\n";
        return 1;
    }
    if (options.range.empty()) {
        const std::uint64_t size = device->SizeBytes();
        first = 0;
        last = size / kSectorSize + (size % kSectorSize ? 1 : 0);
    }
    std::error_code ec;
    std::filesystem::create_directories(options.out, ec);

    CarvingSearchRequest base;
    base.device = device;
    base.startSector = *first;
    base.endSector = *last;
    base.destination = options.out;
    base.thoroughPass = options.thorough;

    E2eCarvingEvents events;
    std::unique_ptr<CarvingSearchJob> job;
    if (options.mode == "photo") {
        auto general = LoadDataFile(options, "QOVExt2.dll");
        auto advance = LoadDataFile(options, "QOVExt2Adv.dll");
        if (!general || !advance)
            return 1;
        PhotoSearchRequest request;
        static_cast<CarvingSearchRequest&>(request) = base;
        AppendSignatureFile(*general, request.general);
        AppendSignatureFile(*advance, request.advance);
        if (!options.types.empty()) {
            request.general = KeepSignaturesOf(request.general, options.types);
            request.advance = KeepSignaturesOf(request.advance, options.types);
        }
        job = std::make_unique<PhotoSearchJob>(std::move(request), &events);
    } else if (options.mode == "signature") {
        auto general = LoadDataFile(options, "QOVSig.dll");
        auto thorough = LoadDataFile(options, "QOVSigAdv.dll");
        if (!general || !thorough)
            return 1;
        std::map<std::string, bool> checkStates;
        for (const SignatureListItem& item : SignatureExtensionItems(*general, *thorough))
            checkStates[item.text] = options.types.empty() || options.types.count(item.text) > 0;
        SignatureSearchRequest request;
        static_cast<CarvingSearchRequest&>(request) = base;
        request.modeText = "Signature";
        AppendCheckedSignatures(*general, checkStates, request.general);
        AppendCheckedSignatures(*thorough, checkStates, request.thorough);
        job = std::make_unique<SignatureSearchJob>(std::move(request), &events);
    } else {
        return CarvingUsage();
    }

    if (!job->RunHere() || job->Failed()) {
        std::cerr << "the search failed: " << job->ErrorText() << "\n";
        return 1;
    }
    const CarvingCounters& counters = job->Counters();
    std::printf("files %llu folders %llu bytes %llu\n", static_cast<unsigned long long>(counters.filesFound.load()),
                static_cast<unsigned long long>(job->FoldersUsed()),
                static_cast<unsigned long long>(counters.bytesWritten.load()));
    return 0;
}

}  // namespace torvane
