#include "carving/carving_search_job.h"

#include "base/program_state.h"
#include "carving/carved_output.h"

namespace torvane {

std::string PhotoPassStatusText(CarvingPassKind pass)
{
    return pass == CarvingPassKind::General
               ? "(Currently performing Search based on:  General Recovery Procedure)"
               : "(Currently performing Search based on:  Thorough Scanning Algorithm)";
}

std::string SignaturePassStatusText(CarvingPassKind pass, const std::string& modeText)
{
    return pass == CarvingPassKind::General
               ? "(Searching files based on:  General " + modeText + " Recovery Procedure)"
               : "(Searching files based on:  Thorough " + modeText + " Scanning Algorithm)";
}

// ------------------------------------------------------------ shared steps

CarvingSearchJob::CarvingSearchJob(const CarvingSearchRequest& request, std::string modeText, CarvingEvents* events)
    : Job(events),
      events_(events),
      startSector_(request.startSector),
      endSector_(request.endSector),
      thorough_(request.thoroughPass)
{
    const std::string base = request.programBaseName.empty() ? ProgramBaseName() : request.programBaseName;
    state_.device = request.device;
    state_.devicePath = request.devicePath;
    state_.fileSystem = request.fileSystem;
    state_.destination = request.destination;
    state_.searchLevels = {base, modeText + " Search"};
    state_.filesPerFolder = request.filesPerFolder;
    state_.readAheadBlocks = request.readAheadBlocks;
    state_.blockSectors = request.blockSectors;
    searchFolder_ = CarvingSearchFolder(request.destination, base, modeText);
}

CarvingSearchJob::~CarvingSearchJob() = default;

bool CarvingSearchJob::BeginSearch(const std::vector<const SignatureList*>& lists)
{
    state_.counters.Reset();
    state_.foldersUsed.clear();
    finished_ = 0;
    state_.table.Clear();
    for (const SignatureList* list : lists)
        state_.table.AddExtensionsOf(*list);
    if (startSector_ >= endSector_) {
        Ask(JobQuestion{kMessageQuestion, ProgramState::Instance().Messages.EndSectorOrderText, {"OK"}});
        return false;
    }
    startTime_ = std::chrono::steady_clock::now();
    // The search's own folders; one that cannot be made shows when the first
    // carved file cannot be created.
    TargetFileSystem& fs = state_.fileSystem ? *state_.fileSystem : PosixTargetFileSystem();
    std::string path = state_.destination;
    for (const std::string& level : state_.searchLevels) {
        if (!path.empty() && path.back() != '/')
            path.push_back('/');
        path += level;
        if (MakeCarvedFolder(fs, path) != 0)
            break;
        state_.foldersUsed.insert(path);
    }
    return true;
}

void CarvingSearchJob::EndSearch()
{
    finished_ = StopRequested() ? 1 : 0;
    Status(ProgramState::Instance().Messages.ViewRecoveredDataText);
    state_.counters.pass = 0;
    if (events_)
        events_->OnSearchEnded(finished_.load());
}

CarvingPassEnd CarvingSearchJob::RunPass(CarvingHitPolicy policy, CarvingPassKind pass,
                                         const SignatureList& signatures, std::uint64_t start, std::uint64_t end,
                                         std::string statusText, CarvedNaming naming)
{
    CarvingPassSetup setup;
    setup.policy = policy;
    setup.pass = pass;
    setup.signatures = &signatures;
    setup.startSector = start;
    setup.endSector = end;
    setup.statusText = std::move(statusText);
    setup.naming = std::move(naming);
    CarvingPass carving(*this, events_, state_, std::move(setup));
    return carving.Run();
}

// ------------------------------------------------------------ Photo Search

PhotoSearchJob::PhotoSearchJob(PhotoSearchRequest request, CarvingEvents* events)
    : CarvingSearchJob(request, "Photo", events), request_(std::move(request))
{
}

PhotoSearchJob::~PhotoSearchJob()
{
    StopAndWait();
}

void PhotoSearchJob::Run()
{
    if (BeginSearch({&request_.general, &request_.advance})) {
        CarvePhotoRange(EndSector(), CarvingPassKind::General);
        if (ThoroughWanted() && !StopRequested())
            CarvePhotoRange(EndSector(), CarvingPassKind::Thorough);
    }
    EndSearch();
}

CarvingPassEnd PhotoSearchJob::CarvePhotoRange(std::uint64_t endSector, CarvingPassKind pass)
{
    const bool general = pass == CarvingPassKind::General;
    CarvedNaming naming;
    naming.prefix = std::string(general ? kPhotoGeneralPrefix : kPhotoThoroughPrefix);
    return RunPass(CarvingHitPolicy::FirstHit, pass, general ? request_.general : request_.advance, StartSector(),
                   endSector, PhotoPassStatusText(pass), std::move(naming));
}

// ------------------------------------------------------------ signature search

SignatureSearchJob::SignatureSearchJob(SignatureSearchRequest request, CarvingEvents* events)
    : CarvingSearchJob(request, request.modeText, events), request_(std::move(request))
{
}

SignatureSearchJob::~SignatureSearchJob()
{
    StopAndWait();
}

void SignatureSearchJob::Run()
{
    if (BeginSearch({&request_.general, &request_.thorough})) {
        CarveSignatureRange(StartSector(), EndSector(), CarvingPassKind::General, request_.modeText);
        if (ThoroughWanted() && !StopRequested() && !request_.thorough.Empty())
            CarveSignatureRange(StartSector(), EndSector(), CarvingPassKind::Thorough, request_.modeText);
    }
    EndSearch();
}

CarvingPassEnd SignatureSearchJob::CarveSignatureRange(std::uint64_t startSector, std::uint64_t endSector,
                                                       CarvingPassKind pass, const std::string& modeText)
{
    const bool general = pass == CarvingPassKind::General;
    return RunPass(CarvingHitPolicy::EveryHit, pass, general ? request_.general : request_.thorough, startSector,
                   endSector, SignaturePassStatusText(pass, modeText), CarvedNaming{});
}

}  // namespace torvane
