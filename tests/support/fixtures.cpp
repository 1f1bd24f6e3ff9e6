#include "support/fixtures.h"

#include <cstdlib>
#include <fstream>
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

std::vector<ManifestEntry> LoadManifest(const std::string& imageName)
{
    // Format: one entry per line, tab-separated: state, size, sha256, path.
    std::filesystem::path file = FixtureImage(imageName);
    file += ".manifest";
    std::ifstream in(file);
    if (!in)
        throw std::runtime_error("no manifest: " + file.string());
    std::vector<ManifestEntry> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
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
        out.push_back(std::move(e));
    }
    return out;
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

}  // namespace torvane::test
