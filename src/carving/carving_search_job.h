// The carving searches as jobs: the Photo Search (PhotoSearchJob) and the
// Video and signature searches (SignatureSearchJob).
//
// A search checks its sector range, runs the General pass into "General",
// and, when the Thorough pass was asked for and no stop came, the Thorough
// pass into "Omitted"; then it says it has ended (OnSearchEnded, with 1 when
// it was stopped). A range whose start is not below its end shows the End
// Sector message and runs no pass.
//
//   PhotoSearchRequest request;
//   request.device = device;  request.startSector = 0;  request.endSector = n;
//   request.destination = "/media/out";  request.thoroughPass = true;
//   request.general = photoLists.general;  request.advance = photoLists.advance;
//   PhotoSearchJob job(request, &events);   job.Start();  ... job.Stop();
//
// Where the files go and how they are named: carved_names.h; what the job
// tells and asks: carving_events.h; how a pass carves: carving_pass.h.
#pragma once

#include "base/job.h"
#include "carving/carving_events.h"
#include "carving/carving_pass.h"
#include "carving/signature_file.h"
#include "results/save_target.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

struct CarvingSearchRequest {
    DevicePtr device;              // the disk or image to carve (read-only)
    std::string devicePath;        // opened when `device` is null, and again on Retry
    std::uint64_t startSector = 0;
    std::uint64_t endSector = 0;   // not itself read
    std::string destination;       // the folder the user chose
    std::string programBaseName;   // the top output folder; empty: ProgramBaseName()
    bool thoroughPass = false;     // also run the Thorough pass (into "Omitted")
    std::uint64_t filesPerFolder = kCarvedFilesPerFolder;
    std::size_t readAheadBlocks = 8;
    std::uint32_t blockSectors = kCarvingBlockSectors;   // smaller in tests and fuzzing only
    TargetFileSystem* fileSystem = nullptr;  // null: the real file system
};

struct PhotoSearchRequest : CarvingSearchRequest {
    SignatureList general;  // the General pass's signatures
    SignatureList advance;  // the Thorough pass's
};

struct SignatureSearchRequest : CarvingSearchRequest {
    std::string modeText = "Signature";  // "Signature" or "Video"
    SignatureList general;   // the checked types of the mode's General file
    SignatureList thorough;  // the checked types of its Thorough file
};

class CarvingSearchJob : public Job {
public:
    ~CarvingSearchJob() override;

    // <destination>/<base>/<Mode> Search
    const std::string& SearchFolder() const { return searchFolder_; }
    const CarvingCounters& Counters() const { return state_.counters; }
    std::vector<ExtensionFolderRow> ExtensionRows() const { return state_.table.Rows(); }
    // After a run: the folders it made or wrote into below the destination.
    std::size_t FoldersUsed() const { return state_.foldersUsed.size(); }
    // After a run: 1 when it was stopped, 0 when it searched its range to the end.
    int Finished() const { return finished_.load(); }
    // When the search started (for the elapsed-time display).
    std::chrono::steady_clock::time_point StartTime() const { return startTime_.load(); }

protected:
    CarvingSearchJob(const CarvingSearchRequest& request, std::string modeText, CarvingEvents* events);

    // Steps shared by both searches' Run(): false when the range is empty
    // (the End Sector message was shown).
    bool BeginSearch(const std::vector<const SignatureList*>& lists);
    void EndSearch();
    CarvingPassEnd RunPass(CarvingHitPolicy policy, CarvingPassKind pass, const SignatureList& signatures,
                           std::uint64_t start, std::uint64_t end, std::string statusText, CarvedNaming naming);

    CarvingEvents* CarvingSink() const { return events_; }
    std::uint64_t StartSector() const { return startSector_; }
    std::uint64_t EndSector() const { return endSector_; }
    bool ThoroughWanted() const { return thorough_; }

private:
    CarvingEvents* events_;
    CarvingSearchState state_;
    std::string searchFolder_;
    std::uint64_t startSector_;
    std::uint64_t endSector_;
    bool thorough_;
    std::atomic<int> finished_{0};
    std::atomic<std::chrono::steady_clock::time_point> startTime_{};
};

class PhotoSearchJob final : public CarvingSearchJob {
public:
    explicit PhotoSearchJob(PhotoSearchRequest request, CarvingEvents* events = nullptr);
    ~PhotoSearchJob() override;

protected:
    // The photo worker: General pass, then the Thorough pass when asked.
    void Run() override;

private:
    // One pass over [start, end): "General" with the General signatures and
    // names GNDR#####, or "Omitted" with the Thorough ones and THDR#####.
    CarvingPassEnd CarvePhotoRange(std::uint64_t endSector, CarvingPassKind pass);

    PhotoSearchRequest request_;
};

class SignatureSearchJob final : public CarvingSearchJob {
public:
    explicit SignatureSearchJob(SignatureSearchRequest request, CarvingEvents* events = nullptr);
    ~SignatureSearchJob() override;

protected:
    // The signature worker: General pass, then the Thorough pass when asked
    // and the Thorough file gave at least one checked signature.
    void Run() override;

private:
    CarvingPassEnd CarveSignatureRange(std::uint64_t startSector, std::uint64_t endSector, CarvingPassKind pass,
                                       const std::string& modeText);

    SignatureSearchRequest request_;
};

// The status texts of the passes.
std::string PhotoPassStatusText(CarvingPassKind pass);
std::string SignaturePassStatusText(CarvingPassKind pass, const std::string& modeText);

}  // namespace torvane
