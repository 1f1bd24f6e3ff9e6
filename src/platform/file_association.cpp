#include "platform/file_association.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace torvane {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Escapes text for an XML element.
std::string XmlEscape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

// Escapes a desktop-entry string value (after Exec quoting): backslash,
// newline and tab.
std::string DesktopValueEscape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

bool ReadWhole(const fs::path& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

// Writes `text` to `path` through a temporary file and a rename, so a
// half-written file never replaces a good one.
bool WriteIfChanged(const fs::path& path, const std::string& text, bool& changed, std::string& error)
{
    std::string current;
    if (ReadWhole(path, current) && current == text) return true;
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) {
        error = path.parent_path().string() + ": " + ec.message();
        return false;
    }
    const fs::path temp = path.string() + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = temp.string() + ": " + std::strerror(errno);
            return false;
        }
        out << text;
        out.flush();
        if (!out) {
            error = temp.string() + ": write failed";
            out.close();
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) {
        error = path.string() + ": " + ec.message();
        fs::remove(temp, ec);
        return false;
    }
    changed = true;
    return true;
}

// Starts a cache tool and reaps it on a detached thread; a missing tool is
// not an error (the desktop picks the files up at its next scan).
void RunInBackground(const std::string& program, const std::string& argument)
{
    std::thread([program, argument] {
        pid_t pid = 0;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()), nullptr};
        if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ) == 0) {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        posix_spawn_file_actions_destroy(&actions);
    }).detach();
}

}  // namespace

std::string UserDataFolder()
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.local/share";
    return {};
}

std::string ScanLogMimeXml(const std::string& extension)
{
    std::string xml;
    xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    xml += "  <mime-type type=\"" + std::string(kScanLogMimeType) + "\">\n";
    xml += "    <comment>Scanning Log File</comment>\n";
    xml += "    <glob pattern=\"*." + XmlEscape(Lower(extension)) + "\"/>\n";
    xml += "  </mime-type>\n";
    xml += "</mime-info>\n";
    return xml;
}

std::string QuoteDesktopExecArgument(const std::string& path)
{
    static const char* const kReserved = " \t\n\"'\\><~|&;$*?#()`";
    if (!path.empty() && path.find_first_of(kReserved) == std::string::npos) return path;
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string ScanLogDesktopEntry(const std::string& executablePath, const std::string& displayName)
{
    std::string entry;
    entry += "[Desktop Entry]\n";
    entry += "Type=Application\n";
    entry += "Name=" + DesktopValueEscape(displayName) + "\n";
    entry += "Comment=Recover deleted and lost files and folders\n";
    entry += "Exec=" + DesktopValueEscape(QuoteDesktopExecArgument(executablePath)) + " %f\n";
    entry += "Icon=drive-harddisk\n";
    entry += "Terminal=false\n";
    entry += "Categories=System;Utility;\n";
    entry += "MimeType=" + std::string(kScanLogMimeType) + ";\n";
    return entry;
}

AssociationResult RegisterScanLogAssociation(const std::string& executablePath, const std::string& displayName,
                                             const std::string& extension, std::string dataFolder, bool refreshCaches)
{
    AssociationResult result;
    if (dataFolder.empty()) dataFolder = UserDataFolder();
    if (dataFolder.empty()) {
        result.ok = false;
        result.error = "no user data folder (neither XDG_DATA_HOME nor HOME is set)";
        return result;
    }
    const fs::path base(dataFolder);
    bool mimeChanged = false, desktopChanged = false;
    std::string error;
    if (!WriteIfChanged(base / kScanLogMimeFile, ScanLogMimeXml(extension), mimeChanged, error)) {
        result.ok = false;
        result.error = error;
    }
    if (!WriteIfChanged(base / kDesktopEntryFile, ScanLogDesktopEntry(executablePath, displayName), desktopChanged,
                        error)) {
        if (result.ok) result.error = error;
        result.ok = false;
    }
    result.changed = mimeChanged || desktopChanged;
    if (refreshCaches) {
        if (mimeChanged) RunInBackground("update-mime-database", (base / "mime").string());
        if (desktopChanged) RunInBackground("update-desktop-database", (base / "applications").string());
    }
    return result;
}

}  // namespace torvane
