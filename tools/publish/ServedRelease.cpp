#include "tools/publish/ServedRelease.h"

#include <memory>

#include "archive/ZipEntryRead.h"
#include "archive/ZipReader.h"
#include "platform/Sha256.h"
#include "release/DeltaDescription.h"
#include "release/FileHashing.h"
#include "release/ReleaseNames.h"
#include "tools/publish/GameTree.h"
#include "tools/publish/ReleaseSigner.h"

namespace qr::publish {
namespace {

std::string Signature(const std::string& dir) { return JoinPath(dir, std::string(kPatchInfoFileName) + kSignatureSuffix); }

bool CheckSignature(const ServedReleaseRequest& request, const std::string& description, FileSystem& fs,
                    std::string& problem) {
    const std::string sigPath = Signature(request.tzanDir);
    std::optional<std::string> signature = ReadWholeFile(fs, sigPath);
    if (request.signKeyPem.empty()) {
        if (!signature) return true;
        problem = "the release is signed (" + sigPath +
                  "); give --sign: launchers with a key built in refuse an unsigned description";
        return false;
    }
    if (!signature) {
        if (request.adoptUnsigned) return true;
        problem = "the served release is unsigned (no " + sigPath + "), so nothing vouches for its history; check it, "
                  "then give --adopt-unsigned to sign it for the first time";
        return false;
    }
    std::string keyProblem;
    if (SignatureMatchesKey(request.signKeyPem, description, *signature, keyProblem)) return true;
    problem = keyProblem.empty() ? sigPath + " does not verify with the public half of " + request.keyPath +
                                       ": the served description was changed, or signed with another key"
                                 : request.keyPath + ": " + keyProblem;
    return false;
}

// The state directory holds what the last publish signed; the served copy must still be it.
bool CheckState(const ServedReleaseRequest& request, const std::optional<std::string>& description, FileSystem& fs,
                std::string& problem) {
    if (request.stateDir.empty()) return true;
    const std::string kept = JoinPath(request.stateDir, kPatchInfoFileName);
    std::optional<std::string> keptText = ReadWholeFile(fs, kept);
    if (!keptText) return true;  // nothing kept yet: the first publish with this state directory
    const std::string served = JoinPath(request.tzanDir, kPatchInfoFileName);
    if (!description || *description != *keptText) {
        problem = served + " differs from the copy kept in " + kept + " (changed on the server?)";
        return false;
    }
    std::optional<std::string> keptSig = ReadWholeFile(fs, Signature(request.stateDir));
    std::optional<std::string> servedSig = ReadWholeFile(fs, Signature(request.tzanDir));
    if (keptSig != servedSig) {
        problem = Signature(request.tzanDir) + " differs from the copy kept in " + Signature(request.stateDir);
        return false;
    }
    return true;
}

bool CheckServedFile(FileSystem& fs, const std::string& path, const FileDigest& want, std::string& problem) {
    std::optional<FileDigest> got = DigestOfFile(fs, path);
    if (got && SameContent(*got, want)) return true;
    problem = got ? path + " differs from its hash line in PatchInfo.ini (changed on the server?)"
                  : path + " is listed in PatchInfo.ini but missing";
    return false;
}

std::optional<FileDigest> HashEntry(const ZipReader& zip) {
    ZipEntryRead entry;
    if (!entry.Open(zip)) return std::nullopt;
    Sha256 hash;
    uint64_t size = 0;
    std::string buffer(1 << 16, '\0');
    while (const uint32_t got = entry.Read(&buffer[0], static_cast<uint32_t>(buffer.size()))) {
        hash.Update(buffer.data(), got);
        size += got;
    }
    if (!entry.Intact(nullptr)) return std::nullopt;
    return FileDigest{DigestHex(hash.Finish()), size};
}

// Every entry the archive lands must be a line of its contents, with that content, and every line an entry.
bool CheckArchive(FileSystem& fs, const std::string& path, const std::map<std::string, FileDigest>& contents,
                  std::string& problem) {
    ZipReader zip;
    if (!zip.OpenArchive(path, fs)) {
        problem = path + " cannot be read as an archive: " + zip.Problem();
        return false;
    }
    std::map<std::string, FileDigest> found;
    for (bool more = zip.GoToFirstEntry(); more; more = zip.GoToNextEntry()) {
        ZipEntryName name;
        if (!zip.GetEntryName(name) || !name.refusal.empty() || name.isDirectory) {
            problem = path + " holds an entry that is not in its contents lines: " + name.shown;
            return false;
        }
        std::optional<FileDigest> digest = HashEntry(zip);
        if (!digest) {
            problem = path + ": the entry " + name.path + " is damaged";
            return false;
        }
        auto line = contents.find(name.path);
        if (line == contents.end() || !found.emplace(name.path, *digest).second) {
            problem = path + " holds an entry that is not in its contents lines: " + name.path;
            return false;
        }
        if (!SameContent(*digest, line->second)) {
            problem = path + ": the entry " + name.path + " differs from its contents line";
            return false;
        }
    }
    if (!zip.Problem().empty()) {
        problem = path + " is damaged: " + zip.Problem();
        return false;
    }
    for (const auto& [name, digest] : contents)
        if (!found.count(name)) {
            problem = path + " lacks the entry " + name + " that its contents lines name";
            return false;
        }
    return true;
}

bool CheckServedFiles(const std::string& patchDir, const ReleaseHistory& history, FileSystem& fs,
                      std::string& problem) {
    for (const auto& [name, digest] : history.servedPlain)
        if (!CheckServedFile(fs, JoinPath(patchDir, ServedPath(name)), digest, problem)) return false;
    for (const auto& [name, digest] : history.archives) {
        const std::string path = JoinPath(patchDir, ServedPath(name));
        if (!CheckServedFile(fs, path, digest, problem)) return false;
        auto contents = history.archiveContents.find(name);
        static const std::map<std::string, FileDigest> kNone;
        if (!CheckArchive(fs, path, contents == history.archiveContents.end() ? kNone : contents->second, problem))
            return false;
    }
    return true;
}

// The deltas and compressed files the description offers are served files like any other.
bool CheckDeltaFiles(const std::string& patchDir, const std::string& description, FileSystem& fs,
                     std::string& problem) {
    for (const auto& [name, line] : ReadDeltaCatalog(description)) {
        if (line.whole && !CheckServedFile(fs, JoinPath(patchDir, line.whole->servedName), line.whole->served, problem))
            return false;
        for (const DescribedDelta& delta : line.deltas)
            if (!CheckServedFile(fs, JoinPath(patchDir, delta.servedName), delta.served, problem)) return false;
    }
    return true;
}

}  // namespace

std::string JoinPath(const std::string& dir, const std::string& relative) {
    if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) return dir + relative;
    return dir + "/" + relative;
}

std::optional<std::string> ReadWholeFile(FileSystem& fs, const std::string& path) {
    std::unique_ptr<ReadableFile> file = fs.OpenRead(path);
    if (!file) return std::nullopt;
    std::string bytes(static_cast<size_t>(file->Size()), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t got = file->ReadAt(done, &bytes[done], bytes.size() - done);
        if (got == 0) return std::nullopt;
        done += got;
    }
    return bytes;
}

std::optional<CheckedRelease> ReadServedRelease(const ServedReleaseRequest& request, FileSystem& fs,
                                               std::string& problem) {
    CheckedRelease served;
    const std::string path = JoinPath(request.tzanDir, kPatchInfoFileName);
    served.description = ReadWholeFile(fs, path);
    if (!CheckState(request, served.description, fs, problem)) return std::nullopt;
    if (!served.description) {
        if (!fs.OpenRead(Signature(request.tzanDir))) return served;
        problem = Signature(request.tzanDir) + " is served without " + path;
        return std::nullopt;
    }
    if (!CheckSignature(request, *served.description, fs, problem)) return std::nullopt;
    std::optional<ReleaseHistory> history = ReadReleaseHistory(*served.description, problem);
    if (!history) {
        problem = path + ": " + problem;
        return std::nullopt;
    }
    served.history = std::move(*history);
    if (!CheckServedFiles(JoinPath(request.tzanDir, "patch"), served.history, fs, problem) ||
        !CheckDeltaFiles(JoinPath(request.tzanDir, "patch"), *served.description, fs, problem))
        return std::nullopt;
    return served;
}

bool KeepSignedState(const std::string& stateDir, const std::string& description, const std::string& signature,
                     FileSystem& fs, std::string& problem) {
    fs.MakeDirectory(stateDir);
    for (const auto& [name, bytes] : {std::pair<std::string, const std::string*>{kPatchInfoFileName, &description},
                                      {std::string(kPatchInfoFileName) + kSignatureSuffix, &signature}}) {
        const std::string path = JoinPath(stateDir, name);
        const std::string temp = path + ".new";
        std::unique_ptr<WritableFile> out = fs.Create(temp);
        bool ok = out && out->Write(bytes->data(), bytes->size());
        if (out && !out->Close()) ok = false;
        if (!ok || !fs.Replace(temp, path)) {
            fs.Remove(temp);
            problem = "the release is published, but " + path + " could not be written: copy the served " + name +
                      " there by hand";
            return false;
        }
    }
    return true;
}

}  // namespace qr::publish
