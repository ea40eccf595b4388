#include "archive/ArchiveExtraction.h"

#include <cstdio>
#include <memory>
#include <new>
#include <string_view>

#include "archive/ZipReader.h"
#include "common/SafeName.h"
#include "platform/DebugTrace.h"

namespace qr {
namespace {

constexpr uint32_t kTransferSize = 65536;
constexpr uint32_t kNameBufferSize = 512;  // names of up to 511 bytes and their terminator
// Each entry is written beside its target under this suffix first; entries that carry it are
// refused, so a temporary file never lands on another entry's file.
constexpr std::string_view kTempSuffix = ".qrtmp";
constexpr uint32_t kEncryptedFlag = 0x0001;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Windows ignores case and trailing dots and spaces, so "A.QRTMP. " is the same file as "a.qrtmp".
bool EndsWithTempSuffix(std::string_view component) {
    while (!component.empty() && (component.back() == '.' || component.back() == ' ')) component.remove_suffix(1);
    if (component.size() < kTempSuffix.size()) return false;
    std::string_view tail = component.substr(component.size() - kTempSuffix.size());
    for (size_t i = 0; i < tail.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kTempSuffix[i]) return false;
    }
    return true;
}

// Names go into reasons as they stand, except control bytes, which a hostile name may carry.
std::string Printable(const std::string& name) {
    std::string out = name;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

bool HasReservedComponent(std::string_view name) {
    size_t start = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsSeparator(name[i])) continue;
        if (EndsWithTempSuffix(name.substr(start, i - start))) return true;
        start = i + 1;
    }
    return false;
}

// Remembers the first failure in full and counts the rest, so the worker gets one clear reason.
class FailureLog {
public:
    void Add(std::string reason) {
        if (count_++ == 0) first_ = std::move(reason);
    }
    bool empty() const { return count_ == 0; }
    std::string Reason() const {
        if (count_ <= 1) return first_;
        return first_ + " (and " + std::to_string(count_ - 1) + " more failed entr" + (count_ == 2 ? "y)" : "ies)");
    }

private:
    int count_ = 0;
    std::string first_;
};

class EntryExtractor {
public:
    EntryExtractor(ZipReader& reader, unsigned char* transfer, FileSystem& fs, FailureLog& failures,
                   const EntryFilter* wanted = nullptr)
        : reader_(reader), transfer_(transfer), fs_(fs), failures_(failures), wanted_(wanted) {}

    void ExtractCurrent();

private:
    void Fail(const std::string& what) { failures_.Add(label_ + ": " + what); }
    void WriteFile(const std::string& name);
    bool WriteTemp(const std::string& name, const std::string& temp, std::string& problem);
    bool CopyData(WritableFile& out, std::string& problem);

    ZipReader& reader_;
    unsigned char* transfer_;
    FileSystem& fs_;
    FailureLog& failures_;
    const EntryFilter* wanted_;
    std::string label_;
};

void EntryExtractor::ExtractCurrent() {
    label_ = "entry " + std::to_string(reader_.EntryIndex() + 1) + " of " + std::to_string(reader_.EntryCount());
    ZipEntryInfo info;
    reader_.GetEntryInfo(&info, nullptr, 0);
    if (info.nameLength >= kNameBufferSize)
        return Fail("its name of " + std::to_string(info.nameLength) + " bytes is longer than the 511 allowed");
    char nameBuffer[kNameBufferSize];
    if (!reader_.GetEntryInfo(nullptr, nameBuffer, info.nameLength + 1))
        return Fail("its name lies outside the archive");
    const std::string name(nameBuffer, info.nameLength);
    if (wanted_ && *wanted_ && !(*wanted_)(name)) return;
    label_ += " \"" + Printable(name) + "\"";

    // The launcher runs elevated: a name that could reach outside the install directory never
    // reaches the file system.
    if (!IsSafeRelativeName(name)) return Fail("refused: the name is absolute or leaves the install directory");
    if (HasReservedComponent(name))
        return Fail("refused: names ending in \"" + std::string(kTempSuffix) + "\" are reserved for temporary files");

    if (IsSeparator(name.back())) {
        if (!MakeParentDirectories(name, fs_)) Fail("the directory could not be created");
        return;
    }
    if (info.flags & kEncryptedFlag) return Fail("the entry is encrypted, which is not supported; existing file kept");
    WriteFile(name);
}

void EntryExtractor::WriteFile(const std::string& name) {
    // The entry's buffers come first: when memory is short no file is created or truncated.
    if (!reader_.OpenEntry()) return Fail(reader_.Problem() + "; existing file kept");
    std::string problem;
    const std::string temp = name + std::string(kTempSuffix);
    const bool written = WriteTemp(name, temp, problem);
    reader_.CloseEntry();
    if (!written) return Fail(problem);
    if (!fs_.Replace(temp, name)) {
        fs_.Remove(temp);
        Fail("the existing file could not be replaced (in use or read-only?); existing file kept");
    }
}

// Writes the open entry to `temp`; on any failure the temporary file is gone again.
bool EntryExtractor::WriteTemp(const std::string& name, const std::string& temp, std::string& problem) {
    if (!MakeParentDirectories(name, fs_)) {
        problem = "its directories could not be created";
        return false;
    }
    std::unique_ptr<WritableFile> out = fs_.Create(temp);
    if (!out) {
        problem = "the file could not be created (\"" + temp + "\"); existing file kept";
        return false;
    }
    bool ok = CopyData(*out, problem);
    if (!out->Close() && ok) {
        ok = false;
        problem = "the written file could not be kept (disk full?)";
    }
    out.reset();
    if (!ok) {
        fs_.Remove(temp);
        problem += "; existing file kept";
    }
    return ok;
}

// A short count is the entry's end; whether that end was the real one the stream then tells.
bool EntryExtractor::CopyData(WritableFile& out, std::string& problem) {
    uint32_t count;
    do {
        count = reader_.ReadEntry(transfer_, kTransferSize);
        if (count > 0 && !out.Write(transfer_, count)) {
            problem = "writing the file failed (disk full?)";
            return false;
        }
    } while (count == kTransferSize);
    return reader_.EntryIntact(&problem);
}

}  // namespace

namespace {
ExtractOutcome Extract(const std::string& archivePath, const std::atomic<bool>* runFlag, std::atomic<int>* doneOut,
                       std::atomic<int>* totalOut, FileSystem& fs, const EntryFilter* wanted) {
    ZipReader reader;
    if (!reader.OpenArchive(archivePath, fs)) return {ExtractStatus::Failed, reader.Problem()};
    std::unique_ptr<unsigned char[]> transfer(new (std::nothrow) unsigned char[kTransferSize]);
    if (!transfer) return {ExtractStatus::Failed, "not enough memory to extract \"" + archivePath + "\""};

    FailureLog failures;
    EntryExtractor extractor(reader, transfer.get(), fs, failures, wanted);
    bool stopped = false;
    bool more = reader.GoToFirstEntry();
    if (!more && !reader.Problem().empty()) failures.Add(reader.Problem());
    while (more) {
        if (doneOut) doneOut->store(static_cast<int>(reader.EntryIndex() + 1));
        if (totalOut) totalOut->store(static_cast<int>(reader.EntryCount()));
        extractor.ExtractCurrent();

        char trace[128];
        std::snprintf(trace, sizeof trace, "thread : %d\n", runFlag ? static_cast<int>(runFlag->load()) : 1);
        DebugTrace(trace);

        more = reader.GoToNextEntry();
        if (!more) {
            // A damaged header ends the walk: the lengths that lead further cannot be trusted.
            if (!reader.Problem().empty()) failures.Add(reader.Problem() + "; the entries after it were not extracted");
            break;
        }
        if (runFlag && !runFlag->load()) {
            stopped = true;
            break;
        }
    }
    const uint32_t reached = reader.EntryIndex() + 1;
    const uint32_t total = reader.EntryCount();
    reader.CloseArchive();

    if (!failures.empty()) return {ExtractStatus::Failed, failures.Reason()};
    if (stopped)
        return {ExtractStatus::Stopped, "stopped after entry " + std::to_string(reached) + " of " + std::to_string(total)};
    return {};
}

}  // namespace

ExtractOutcome ExtractArchive(const std::string& archivePath, const std::atomic<bool>* runFlag,
                              std::atomic<int>* doneOut, std::atomic<int>* totalOut, FileSystem& fs) {
    return Extract(archivePath, runFlag, doneOut, totalOut, fs, nullptr);
}

ExtractOutcome ExtractArchiveEntries(const std::string& archivePath, const EntryFilter& wanted,
                                     const std::atomic<bool>* runFlag, FileSystem& fs) {
    return Extract(archivePath, runFlag, nullptr, nullptr, fs, &wanted);
}

}  // namespace qr
