#include "results/save_destination.h"

#include "results/recovered_target.h"

#include <cerrno>

namespace torvane {
namespace {

// Removes trailing "/" (not the one of "/" itself).
std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// Number of bytes of the first `chars` UTF-8 characters of `text`.
std::size_t Utf8PrefixBytes(std::string_view text, std::size_t chars)
{
    std::size_t i = 0;
    while (i < text.size() && chars > 0) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            ++i;
        --chars;
    }
    return i;
}

// Cuts UTF-8 text to at most `bytes` bytes at a character boundary.
std::string CutUtf8(std::string_view text, std::size_t bytes)
{
    if (text.size() <= bytes)
        return std::string(text);
    std::size_t n = bytes;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return std::string(text.substr(0, n));
}

std::string AsciiUpper(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// The extension of a name, dot included, as the shell finds it: after the
// last dot, when that part holds no blank. Empty when there is none.
std::string_view NameExtension(std::string_view name)
{
    auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {};
    std::string_view ext = name.substr(dot);
    if (ext.find(' ') != std::string_view::npos)
        return {};
    return ext;
}

// Creates one folder; a too-long leaf is cut so that it fits. 0 or errno.
int MakeFolderFitting(SaveSession& session, std::string& path)
{
    int err = session.Fs().MakeDirectory(path);
    if (err == ENAMETOOLONG) {
        std::string leaf = LastComponent(path);
        if (leaf.size() > kNameMaxBytes) {
            path = JoinPath(ParentFolder(path), CutUtf8(leaf, kNameMaxBytes));
            err = session.Fs().MakeDirectory(path);
        }
    }
    if (err == EEXIST && session.Fs().IsDirectory(path))
        return 0;
    return err;
}

}  // namespace

std::string SanitizeNameComponent(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7F)
            out += '_';
        else
            out += c;
    }
    if (out.empty() || out == "." || out == "..")
        out = "_" + out;
    return out;
}

std::string ParentFolder(std::string_view path)
{
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::string LastComponent(std::string_view path)
{
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string out(folder);
    if (!out.empty() && out.back() != '/')
        out += '/';
    out += name;
    return out;
}

void ReportFolderFailure(SaveSession& session, const std::string& folder, int error)
{
    if (!session.failedFolders.insert(WithoutTrailingSlash(folder)).second)
        return;
    session.Report().Add(FileOutcome::Failed, folder,
                         error ? "the folder could not be created: " + ErrnoText(error)
                               : std::string("the folder could not be created: a file holds its place"));
}

bool PrepareDestinationRoot(SaveSession& session)
{
    const std::string root = WithoutTrailingSlash(session.Destination());
    if (session.Fs().Exists(root) && !session.Fs().IsDirectory(root)) {
        if (session.failedFolders.insert(root).second)
            session.Report().Add(FileOutcome::Failed, root, kDestinationNotAFolderText);
        return false;
    }
    const std::string replacement = CreateDestinationFolder(session, root);
    if (!replacement.empty())
        session.SetDestination(replacement);
    if (!session.Fs().IsDirectory(session.Destination())) {
        // The reason is in the report (recorded when the folder could not
        // be made): every file would fail the same way.
        ReportFolderFailure(session, session.Destination(), session.Fs().Exists(session.Destination()) ? 0 : ENOENT);
        return false;
    }
    return true;
}

std::string CreateDestinationFolder(SaveSession& session, const std::string& pathIn)
{
    const std::string path = WithoutTrailingSlash(pathIn);
    if (path.empty())
        return {};
    int err = session.Fs().MakeDirectory(path);
    if (err == 0)
        return {};
    if (err == EEXIST) {
        if (session.Fs().IsDirectory(path))
            return {};
        // A file holds the folder's name: the folder goes under a "_zq_N" name.
        std::string other = FirstFreeRename(session, path);
        const int otherErr = session.Fs().MakeDirectory(other);
        if (otherErr == 0 || session.Fs().IsDirectory(other))
            return other;
        ReportFolderFailure(session, path, otherErr == EEXIST ? 0 : otherErr);
        return {};
    }
    if (err == ENOENT) {
        int prefixErr = 0;
        std::string replacement = CreateEveryPrefix(session, path, &prefixErr);
        if (replacement.empty() && prefixErr != 0 && !session.Fs().IsDirectory(path))
            ReportFolderFailure(session, path, prefixErr);
        return replacement;
    }
    if (err == ENAMETOOLONG)
        return HandleTooLongPath(session, path);
    // No permission, a read-only file system, a file in place of a parent
    // folder, no space: nothing can be saved under it, and the user is told.
    ReportFolderFailure(session, path, err);
    return {};
}

std::string CreateEveryPrefix(SaveSession& session, const std::string& pathIn, int* error)
{
    if (error)
        *error = 0;
    const std::string path = WithoutTrailingSlash(pathIn);
    std::string prefix;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        std::string component = path.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
        if (pos == 0 && component.empty()) {
            prefix = "/";   // an absolute path starts at the root
        } else if (!component.empty()) {
            if (!prefix.empty() && prefix.back() != '/')
                prefix += '/';
            prefix += component;
            int err = session.Fs().MakeDirectory(prefix);
            if (err == ENAMETOOLONG)
                return HandleTooLongPath(session, path);
            if (err != 0 && err != EEXIST && error && *error == 0)
                *error = err;
        }
        if (slash == std::string::npos)
            break;
        pos = slash + 1;
    }
    return {};
}

std::string HandleTooLongPath(SaveSession& session, const std::string& pathIn)
{
    const std::string path = WithoutTrailingSlash(pathIn);
    if (!session.longPathApplyAll) {
        TooLongReply reply;
        if (session.Questions())
            reply = session.Questions()->AskTooLong(path);
        switch (reply.choice) {
        case TooLongChoice::Move:
            session.longPathRedirectFolder = session.Destination() + kMiscFolderLeaf + "/";
            break;
        case TooLongChoice::Browse:
            session.longPathRedirectFolder = reply.browsedFolder;
            session.Fs().TrustFolder(reply.browsedFolder);
            if (session.longPathRedirectFolder.empty() || session.longPathRedirectFolder.back() != '/')
                session.longPathRedirectFolder += '/';
            break;
        case TooLongChoice::Ignore:
        default:
            if (reply.applyAll) {
                session.longPathApplyAll = true;
                session.longPathIgnoreAll = true;
            }
            return {};
        }
        if (reply.applyAll)
            session.longPathApplyAll = true;
    }
    if (session.longPathIgnoreAll || session.longPathRedirectFolder.empty())
        return {};
    // Make sure the redirect folder itself exists (no question can come from
    // here: it is the destination's own child or a folder the user browsed).
    {
        std::string redirect = WithoutTrailingSlash(session.longPathRedirectFolder);
        if (session.Fs().MakeDirectory(redirect) == ENOENT)
            CreateEveryPrefix(session, redirect);
    }
    std::string candidate = session.longPathRedirectFolder + SanitizeNameComponent(LastComponent(path));
    if (MakeFolderFitting(session, candidate) == 0)
        return candidate;
    std::string fallback = session.Destination() + kMiscFolderLeaf;
    if (MakeFolderFitting(session, fallback) == 0)
        return fallback;
    return {};
}

std::string MakeShortTargetName(std::string_view name)
{
    std::string_view ext = NameExtension(name);
    if (ext.size() > 32)
        ext = {};
    std::string base(name.substr(0, Utf8PrefixBytes(name, 6)));
    return AsciiUpper(base + "~(1)" + std::string(ext));
}

std::string ShortenTargetName(SaveSession& session, const std::string& fullPath, const std::string& folderPath,
                              std::string_view name, std::string_view preset)
{
    if (name.size() <= kNameMaxBytes && fullPath.size() < kPathMaxBytes)
        return {};
    std::string shortName = preset.empty() ? MakeShortTargetName(name) : std::string(preset);
    if (!preset.empty()) {
        // An 8.3 name cuts the extension to three characters: the file keeps
        // its own (".jpeg", not ".JPE") when that is all the two differ in.
        const std::string_view own = NameExtension(name);
        const std::string_view cut = NameExtension(shortName);
        if (!own.empty() && !cut.empty() && own.size() <= 32 && own.size() > cut.size() &&
            AsciiUpper(std::string(own.substr(0, cut.size()))) == AsciiUpper(std::string(cut)))
            shortName = shortName.substr(0, shortName.size() - cut.size()) + std::string(own);
    }
    shortName = SanitizeNameComponent(shortName);
    std::string target = JoinPath(folderPath, shortName);
    if (session.shortenedTargets.insert(target).second)
        return shortName;
    // Another file of this save has that short name already: count up.
    std::string_view ext = NameExtension(shortName);
    std::string stem = shortName.substr(0, shortName.size() - ext.size());
    auto tilde = stem.rfind("~(");
    if (tilde != std::string::npos && !stem.empty() && stem.back() == ')')
        stem.erase(tilde);
    for (std::uint64_t n = 2; n < 1000000; ++n) {
        std::string candidate = stem + "~(" + std::to_string(n) + ")" + std::string(ext);
        target = JoinPath(folderPath, candidate);
        if (session.shortenedTargets.insert(target).second)
            return candidate;
    }
    return shortName;
}

std::string FirstFreeRename(SaveSession& session, const std::string& target)
{
    std::string folder = ParentFolder(target);
    std::string name = LastComponent(target);
    std::string base = name, ext;
    auto dot = name.rfind('.');
    if (dot != std::string::npos && dot != 0) {
        base = name.substr(0, dot);
        ext = name.substr(dot + 1);
    }
    // A long name with a number could pass NAME_MAX: cut the base.
    const std::size_t room = kNameMaxBytes > ext.size() + 32 ? kNameMaxBytes - ext.size() - 32 : 0;
    if (base.size() > room)
        base = CutUtf8(base, room);
    for (std::uint64_t n = 0;; ++n) {
        std::string leaf = base + "_zq_" + std::to_string(n);
        if (dot != std::string::npos && dot != 0)
            leaf += "." + ext;
        std::string candidate = folder.empty() ? leaf : JoinPath(folder, leaf);
        if (!session.Fs().Exists(candidate))
            return candidate;
    }
}

std::string ResolveNameConflict(SaveSession& session, const std::string& targetIn)
{
    std::string target = targetIn;
    // A user-edited rename may name an existing file again: ask again (bounded).
    for (int round = 0; round < 16; ++round) {
        if (!session.Fs().Exists(target))
            return target;
        if (session.replaceAnswer == ReplaceAnswer::SkipAll)
            return {};
        if (session.replaceAnswer == ReplaceAnswer::RenameAll)
            return FirstFreeRename(session, target);
        if (session.replaceAnswer == ReplaceAnswer::OverwriteAll) {
            // A folder cannot be overwritten by a file: the file is renamed.
            if (session.Fs().IsDirectory(target))
                return FirstFreeRename(session, target);
            return target;
        }
        ReplaceReply reply;
        if (session.Questions())
            reply = session.Questions()->AskReplace(target, FirstFreeRename(session, target));
        else
            reply.answer = ReplaceAnswer::Skip;
        session.replaceAnswer = reply.answer;
        switch (reply.answer) {
        case ReplaceAnswer::Skip:
        case ReplaceAnswer::SkipAll:
            return {};
        case ReplaceAnswer::Cancel:
            session.replaceAnswer = ReplaceAnswer::SkipAll;
            session.RequestStop();
            return {};
        case ReplaceAnswer::Rename:
        case ReplaceAnswer::RenameAll:
            if (reply.path.empty() || reply.path == target)
                reply.path = FirstFreeRename(session, target);
            target = reply.path;
            continue;   // test the new path again
        case ReplaceAnswer::Overwrite:
        case ReplaceAnswer::OverwriteAll:
        default:
            if (session.Fs().IsDirectory(target))
                return FirstFreeRename(session, target);
            return target;
        }
    }
    return {};
}

}  // namespace torvane
