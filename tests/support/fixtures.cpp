#include "support/fixtures.h"

#include "fsrecovery/store/found_items.h"
#include "fsrecovery/ntfs/mft_sweep.h"
#include "platform/device.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace torvane::test {

std::filesystem::path FixtureImage(const std::string& name)
{
    const char* env = std::getenv("TORVANE_FIXTURE_IMAGES");
    std::filesystem::path dir = (env && *env) ? env : TORVANE_FIXTURE_IMAGES_DIR;
    return dir / name;
}

namespace {

// Calls take(line) for each line of the fixture's side file (".manifest",
// ".geometry"), leaving out empty lines and "#" comments.
template <class Take>
void ForEachFixtureLine(const std::string& imageName, const char* suffix, Take take)
{
    std::filesystem::path file = FixtureImage(imageName);
    file += suffix;
    std::ifstream in(file);
    if (!in)
        throw std::runtime_error(std::string("no ") + (suffix + 1) + ": " + file.string());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        take(line);
    }
}

}  // namespace

std::vector<ManifestEntry> LoadManifest(const std::string& imageName)
{
    // Format: one entry per line, tab-separated: state, size, sha256 ("-" for none), path.
    // On a disk image the path starts with the partition: "p5/Sizes/size-1.bin".
    std::vector<ManifestEntry> out;
    ForEachFixtureLine(imageName, ".manifest", [&](const std::string& line) {
        std::istringstream fields(line);
        ManifestEntry e;
        std::string size;
        std::getline(fields, e.state, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, e.sha256, '\t');
        std::getline(fields, e.path);
        e.size = std::strtoull(size.c_str(), nullptr, 10);
        if (e.sha256 == "-")
            e.sha256.clear();
        if (e.path.size() > 1 && e.path[0] == 'p' && std::isdigit(static_cast<unsigned char>(e.path[1]))) {
            const std::size_t slash = e.path.find('/');
            if (slash == std::string::npos)
                throw std::runtime_error("bad manifest path: " + e.path);
            e.partition = std::atoi(e.path.substr(1, slash - 1).c_str());
            e.path = e.path.substr(slash);
        }
        out.push_back(std::move(e));
    });
    return out;
}

std::vector<ManifestEntry> ManifestOfPartition(const std::vector<ManifestEntry>& all, int partition)
{
    std::vector<ManifestEntry> out;
    for (const ManifestEntry& e : all)
        if (e.partition == partition)
            out.push_back(e);
    return out;
}

Geometry LoadGeometry(const std::string& imageName)
{
    Geometry out;
    ForEachFixtureLine(imageName, ".geometry", [&](const std::string& line) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            out[line.substr(0, eq)] = line.substr(eq + 1);
    });
    return out;
}

std::optional<std::uint64_t> GeometryNumber(const Geometry& geometry, const std::string& key)
{
    const auto it = geometry.find(key);
    if (it == geometry.end() || it->second.empty())
        return std::nullopt;
    const std::string& text = it->second;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    errno = 0;
    const std::uint64_t value = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    if (errno != 0 || end == nullptr || *end != '\0')
        return std::nullopt;
    return value;
}

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "torvane-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool OpenFixtureVolume(const std::string& imageName, const std::string& fsType, CurrentPartition& out)
{
    out = CurrentPartition{};
    out.Device = OpenFileDevice(FixtureImage(imageName).string());
    if (!out.Device)
        return false;
    out.Descriptor.FsType = fsType;
    out.Descriptor.StartSector = 0;
    out.Descriptor.EndSector = out.Device->SizeBytes() / 512;
    return true;
}

std::ostream& operator<<(std::ostream& out, FixtureStatus status)
{
    switch (status) {
    case FixtureStatus::Ready: return out << "Ready";
    case FixtureStatus::NotUnpacked: return out << "NotUnpacked";
    case FixtureStatus::CannotOpen: return out << "CannotOpen";
    case FixtureStatus::ParametersNotRead: return out << "ParametersNotRead";
    }
    return out << "FixtureStatus(" << static_cast<int>(status) << ")";
}

FixtureStatus OpenNtfsFixture(CurrentPartition& partition, ScanResults& results)
{
    if (!std::filesystem::exists(FixtureImage("ntfs.img")))
        return FixtureStatus::NotUnpacked;
    if (!OpenFixtureVolume("ntfs.img", "NTFS", partition))
        return FixtureStatus::CannotOpen;
    if (ReadVolumeParameters(partition, *partition.Device) != 1)
        return FixtureStatus::ParametersNotRead;
    results.SetFsName("NTFS");
    results.SetRecoveryMode(1);
    return FixtureStatus::Ready;
}

FixtureStatus ScanNtfsFixture(CurrentPartition& partition, ScanResults& results, MftRunTable& table)
{
    const FixtureStatus status = OpenNtfsFixture(partition, results);
    if (status != FixtureStatus::Ready)
        return status;
    RunBasicNtfsScan(results, partition);
    table = BuildMftRunTable(NtfsVolumeOf(partition), partition.Geometry.MftStart, partition.Geometry.MftMirrStart);
    return status;
}

}  // namespace torvane::test
