#include "store/sealed_copy.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "store/file_services.h"
#include "store/parallel.h"
#include "store/piece_writer.h"

namespace vantory {

namespace {

constexpr size_t kPiece = kSealedCopyPiece;

// The permission bits of a file made from the content of a file that had `bits`: the same, with
// owner read (the content was read) and without set-id or sticky bits; 0600 when they are not
// known. A sealed copy made with them records them beside its attributes, which make it
// private, so that its unsealed copy comes back as the original was.
platform::FileMode givenBackBits(std::optional<platform::FileMode> bits) {
    return bits ? (*bits & 0777) | 0400 : 0600;
}

}  // namespace

namespace {

// One streaming pass from a source file to a target file.
class Transform {
  public:
    virtual ~Transform() = default;
    virtual size_t maxOutput(size_t n) const = 0;
    virtual size_t update(const uint8_t* data, size_t n, uint8_t* out) = 0;
    virtual size_t finish(uint8_t* out) = 0;
};

// Stretching never makes finish() write more than this.
constexpr size_t kMaxFinishOutput = 16;

class SealTransform final : public Transform {
  public:
    SealTransform(std::string_view key, Pacer* pacer) : sealer_(key, pacer) {}
    size_t maxOutput(size_t n) const override { return Sealer::maxOutput(n); }
    size_t update(const uint8_t* data, size_t n, uint8_t* out) override {
        return sealer_.update(data, n, out);
    }
    size_t finish(uint8_t* out) override {
        const size_t n = sealer_.finish(out);
        std::memcpy(out + n, kSealedLineEnd, sizeof kSealedLineEnd);
        return n + sizeof kSealedLineEnd;
    }

  private:
    Sealer sealer_;
};
static_assert(Sealer::kMaxFinishOutput + sizeof kSealedLineEnd <= kMaxFinishOutput);

class UnsealTransform final : public Transform {
  public:
    UnsealTransform(std::string_view key, Pacer* pacer) : unsealer_(key, pacer) {}
    size_t maxOutput(size_t n) const override { return StoredFileUnsealer::maxOutput(n); }
    size_t update(const uint8_t* data, size_t n, uint8_t* out) override {
        return unsealer_.update(data, n, out);
    }
    size_t finish(uint8_t* out) override { return unsealer_.finish(out); }

  private:
    StoredFileUnsealer unsealer_;
};
static_assert(StoredFileUnsealer::kMaxFinishOutput <= kMaxFinishOutput);

// The content as it is, for comparing a plain stored file.
class SameTransform final : public Transform {
  public:
    size_t maxOutput(size_t n) const override { return n; }
    size_t update(const uint8_t* data, size_t n, uint8_t* out) override {
        std::memcpy(out, data, n);
        return n;
    }
    size_t finish(uint8_t*) override { return 0; }
};

// Unseals under one key and seals under another; the content in between stays in a buffer
// of one piece.
class ResealTransform final : public Transform {
  public:
    ResealTransform(std::string_view oldKey, std::string_view newKey, Pacer* pacer)
        : unsealer_(oldKey, pacer), sealer_(newKey, pacer) {}
    size_t maxOutput(size_t n) const override {
        return Sealer::maxOutput(StoredFileUnsealer::maxOutput(n));
    }
    size_t update(const uint8_t* data, size_t n, uint8_t* out) override {
        // As large as the largest piece seen, so that a small file needs little.
        if (middle_.size() <
            StoredFileUnsealer::maxOutput(n) + StoredFileUnsealer::kMaxFinishOutput) {
            middle_.resize(StoredFileUnsealer::maxOutput(n) + StoredFileUnsealer::kMaxFinishOutput);
        }
        const size_t plain = unsealer_.update(data, n, middle_.data());
        return sealer_.update(middle_.data(), plain, out);
    }
    size_t finish(uint8_t* out) override {
        if (middle_.size() < StoredFileUnsealer::kMaxFinishOutput) {
            middle_.resize(StoredFileUnsealer::kMaxFinishOutput);
        }
        const size_t plain = unsealer_.finish(middle_.data());
        size_t n = sealer_.update(middle_.data(), plain, out);
        n += sealer_.finish(out + n);
        std::memcpy(out + n, kSealedLineEnd, sizeof kSealedLineEnd);
        return n + sizeof kSealedLineEnd;
    }

  private:
    StoredFileUnsealer unsealer_;
    Sealer sealer_;
    std::vector<uint8_t> middle_;
};
// The last unsealed bytes (at most five) seal to at most 8 + 3 characters, then the line end.
static_assert(Sealer::maxOutput(StoredFileUnsealer::kMaxFinishOutput) + Sealer::kMaxFinishOutput +
                  sizeof kSealedLineEnd <=
              kMaxFinishOutput);

// The size of the pieces a file of `size` bytes is read in: for a file smaller than a piece,
// its whole size and one more byte (a multiple of 3 and of 4), so that it is read in one go
// into a buffer of its own size.
size_t pieceFor(std::optional<uint64_t> size) {
    return size && *size < kPiece ? static_cast<size_t>(*size / 12 + 1) * 12 : kPiece;
}

// Adds a piece read to the count of the file in hand, where one is kept.
void count(FileBytes* bytes, size_t n) {
    if (bytes != nullptr) {
        bytes->done += n;
    }
}

// Streams `in` through `transform` into `out`: a file that fits in one piece in one write,
// a larger one through a PieceWriter. Each piece read is counted in `bytes`.
Status transformInto(platform::InputFile& in, size_t piece, platform::AtomicFile& out,
                     Transform& transform, FileBytes* bytes) {
    uint8_t* const input = platform::scratchBuffer(platform::Scratch::kInput, piece);
    size_t got = 0;
    if (Status s = in.read(input, piece, got); !s.ok()) {
        return s;
    }
    count(bytes, got);
    in.dropRead();      // each file is read once; keep the page cache for the rest
    if (got < piece) {  // the whole file
        uint8_t* const output = platform::scratchBuffer(
            platform::Scratch::kOutput, transform.maxOutput(got) + kMaxFinishOutput);
        size_t n = transform.update(input, got, output);
        n += transform.finish(output + n);
        return out.write(output, n);
    }
    PieceWriter writer(out, std::max(transform.maxOutput(piece), kMaxFinishOutput));
    for (bool end = false; !end;) {
        uint8_t* output = writer.take();
        if (output == nullptr) {
            break;  // drain() reports the error
        }
        end = got == 0;
        writer.submit(end ? transform.finish(output) : transform.update(input, got, output));
        if (!end) {
            if (Status s = in.read(input, piece, got); !s.ok()) {
                return s;
            }
            count(bytes, got);
            in.dropRead();
        }
    }
    return writer.drain();
}

// Writes what `transform` makes of `source` into the temporary file of `out`, whose target is
// `target`, creating the missing folders above it; the file gets `attributes`. Committing it
// is left to the caller. The source's bytes are counted where `pacer` keeps a count.
Status transformToTemporary(const std::string& source, const std::string& target,
                            platform::AtomicFile& out, int attributes, Transform& transform,
                            Pacer* pacer) {
    platform::InputFile in;
    if (Status s = in.open(source); !s.ok()) {
        return s;
    }
    if (Status s = platform::makeFolders(platform::parentFolder(target)); !s.ok()) {
        return s;
    }
    const std::optional<uint64_t> size = platform::fileSize(source);
    FileBytes* bytes = pacer != nullptr ? pacer->fileBytes() : nullptr;
    if (bytes != nullptr) {
        *bytes = {0, size.value_or(0)};
    }
    const size_t piece = pieceFor(size);
    if (Status s = out.open(); !s.ok()) {
        return s;
    }
    if (Status s = transformInto(in, piece, out, transform, bytes); !s.ok()) {
        return s;
    }
    // Windows refuses to replace a file that is open, and the source may be the target.
    in.close();
    if (attributes != platform::kNormal) {
        if (Status s = platform::setAttributes(out.temporaryPath(), attributes); !s.ok()) {
            return s;
        }
    }
    return Status::success();
}

Status transformFile(const std::string& source, const std::string& target, int attributes,
                     Transform& transform, platform::FileMode mode, Pacer* pacer,
                     platform::Existing existing = platform::Existing::kReplace) {
    platform::AtomicFile out(target, mode, existing);
    if (Status s = transformToTemporary(source, target, out, attributes, transform, pacer);
        !s.ok()) {
        return s;
    }
    return out.commit();
}

// Whether `file` holds what `transform` makes of `source`, byte for byte, streamed; the
// error when either cannot be read.
std::optional<bool> contentMatches(const std::string& source, const std::string& file,
                                   Transform& transform, Status& error) {
    platform::InputFile in;
    platform::InputFile other;
    if (!(error = in.open(source)).ok() || !(error = other.open(file)).ok()) {
        return std::nullopt;
    }
    std::vector<uint8_t> input(pieceFor(platform::fileSize(source)));
    std::vector<uint8_t> made(std::max(transform.maxOutput(input.size()), kMaxFinishOutput));
    std::vector<uint8_t> found(made.size() + 1);
    for (bool end = false; !end;) {
        size_t got = 0;
        if (!(error = in.read(input.data(), input.size(), got)).ok()) {
            return std::nullopt;
        }
        end = got == 0;
        const size_t n =
            end ? transform.finish(made.data()) : transform.update(input.data(), got, made.data());
        size_t seen = 0;
        if (!(error = other.read(found.data(), n + (end ? 1 : 0), seen)).ok()) {
            return std::nullopt;
        }
        if (seen != n || std::memcmp(made.data(), found.data(), n) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<bool> storedContentIs(const std::string& stored, const std::string& file, bool sealed,
                                    std::string_view key, Status& error) {
    if (sealed) {
        UnsealTransform transform(key, nullptr);
        return contentMatches(stored, file, transform, error);
    }
    SameTransform transform;
    return contentMatches(stored, file, transform, error);
}

Status sealFile(const std::string& source, const std::string& target, std::string_view key,
                Pacer* pacer, int attributes) {
    SealTransform transform(key, pacer);
    return transformFile(source, target, attributes, transform,
                         givenBackBits(platform::permissionBits(source)), pacer);
}

Status unsealFile(const std::string& source, const std::string& target, std::string_view key,
                  Pacer* pacer, int attributes, platform::Existing existing,
                  std::optional<platform::FileMode> recorded) {
    UnsealTransform transform(key, pacer);
    return transformFile(
        source, target, attributes, transform,
        givenBackBits(recorded ? recorded : platform::recordedPermissionBits(source)), pacer,
        existing);
}

Status resealFile(const std::string& source, const std::string& target, std::string_view oldKey,
                  std::string_view newKey, Pacer* pacer, int attributes) {
    ResealTransform transform(oldKey, newKey, pacer);
    return transformFile(source, target, attributes, transform,
                         givenBackBits(platform::recordedPermissionBits(source)), pacer);
}

Status encryptFileCopy(const ProgramState& state, const std::string& strInitFile,
                       const std::string& strEndFile, bool bolEncryptFile, Pacer* pacer) {
    if (bolEncryptFile) {
        return sealFile(strInitFile, strEndFile, state.strPassword, pacer,
                        platform::kStoredAttributes);
    }
    if (Status s = ShellFileOp(strInitFile, strEndFile); !s.ok()) {
        return s;
    }
    // The file is in storage now. Should its attributes refuse to change, it is still stored,
    // and reporting a failure would leave it there without a catalogue entry.
    if (platform::getAttributes(strEndFile) != platform::kStoredAttributes) {
        (void)platform::setAttributes(strEndFile, platform::kStoredAttributes);
    }
    return Status::success();
}

Status decryptFileCopy(const ProgramState& state, const std::string& strInitFile,
                       const std::string& strEndFile, bool bolDecryptFile,
                       platform::Existing existing, std::vector<std::string>* unsynced,
                       Pacer* pacer) {
    // Only a regular file is a stored file: a link is neither read nor moved, nor are its
    // target's attributes changed.
    switch (platform::pathKind(strInitFile)) {
        case platform::PathKind::kRegularFile:
            break;
        case platform::PathKind::kNothing: {
            const Status probe = platform::probePath(strInitFile);  // why nothing is there
            return probe.ok() ? Status{ENOENT} : probe;
        }
        case platform::PathKind::kLink:
            return Status{ELOOP};
        case platform::PathKind::kFolder:
            return Status{EISDIR};
        case platform::PathKind::kOther:
            return Status{EINVAL};
    }
    const std::optional<int> attributes = platform::getAttributes(strInitFile);
    if (!attributes) {
        return Status{ENOENT};
    }
    const std::optional<platform::FileMode> recorded =
        platform::recordedPermissionBits(strInitFile);
    if (*attributes != platform::kNormal) {
        if (Status s = platform::setAttributes(strInitFile, platform::kNormal); !s.ok()) {
            return s;
        }
    }
    Status result;
    if (bolDecryptFile) {
        result = unsealFile(strInitFile, strEndFile, state.strPassword, pacer, platform::kNormal,
                            existing, recorded);
    } else {
        result = existing == platform::Existing::kKeep
                     ? platform::movePathKeeping(strInitFile, strEndFile, unsynced)
                     : platform::movePath(strInitFile, strEndFile);
    }
    if (!result.ok() && *attributes != platform::kNormal) {
        (void)platform::setAttributes(strInitFile, *attributes);
    }
    return result;
}

CopyBatch::CopyBatch(const ProgramState& state, Pacer* pacer) : state_(state), pacer_(pacer) {}

CopyBatch::~CopyBatch() = default;

Status CopyBatch::add(const std::string& target, platform::FileMode mode,
                      platform::Existing existing, const WriteTemporary& write) {
    auto out = std::make_unique<platform::AtomicFile>(target, mode, existing);
    if (Status written = write(*out); !written.ok()) {
        return written;  // the temporary file goes with `out`
    }
    out->writeBehind();  // so that the flush at the commit finds it on its way to the disk
    bytes_ += platform::fileSize(out->temporaryPath()).value_or(0);
    files_.push_back(std::move(out));
    targets_.push_back(target);
    return Status::success();
}

// A sealed copy replaces an earlier stored file; an unsealed one never replaces a file.
Status CopyBatch::seal(const std::string& source, const std::string& target) {
    return add(target, givenBackBits(platform::permissionBits(source)),
               platform::Existing::kReplace, [&](platform::AtomicFile& out) {
                   SealTransform transform(state_.strPassword, pacer_);
                   return transformToTemporary(source, target, out, platform::kStoredAttributes,
                                               transform, pacer_);
               });
}

Status CopyBatch::unseal(const std::string& source, const std::string& target) {
    return add(target, givenBackBits(platform::recordedPermissionBits(source)),
               platform::Existing::kKeep, [&](platform::AtomicFile& out) {
                   UnsealTransform transform(state_.strPassword, pacer_);
                   return transformToTemporary(source, target, out, platform::kNormal, transform,
                                               pacer_);
               });
}

Status CopyBatch::reseal(const std::string& source, const std::string& target,
                         std::string_view oldKey, std::string_view newKey) {
    return add(target, givenBackBits(platform::recordedPermissionBits(source)),
               platform::Existing::kReplace, [&](platform::AtomicFile& out) {
                   ResealTransform transform(oldKey, newKey, pacer_);
                   return transformToTemporary(source, target, out, platform::kStoredAttributes,
                                               transform, pacer_);
               });
}

void CopyBatch::discard() {
    files_.clear();
    targets_.clear();
    bytes_ = 0;
}

std::vector<Status> CopyBatch::commit(Pacer* pacer) {
    const size_t n = files_.size();
    // Flushed at once (ForEachAtOnce): one after the other, each would wait for a journal
    // commit of its own.
    std::vector<Status> flushes(n);
    ForEachAtOnce(
        n, [&](size_t i) { flushes[i] = files_[i]->flush(); }, pacer);
    // Committed in order up to the first that failed.
    size_t flushed = 0;
    while (flushed < n && flushes[flushed].ok()) {
        ++flushed;
    }
    const Status failure = flushed < n ? flushes[flushed] : Status::success();
    std::vector<Status> results(n);
    Status stop;  // what stops the commit
    std::vector<std::string> synced;
    for (size_t i = 0; i < n; ++i) {
        if (stop.ok()) {
            stop = i < flushed ? files_[i]->commit(false) : failure;
        }
        results[i] = stop;
        const std::string folder = platform::parentFolder(targets_[i]);
        if (stop.ok() && std::find(synced.begin(), synced.end(), folder) == synced.end()) {
            synced.push_back(folder);
        }
    }
    for (const std::string& folder : synced) {
        platform::syncFolder(folder);
    }
    discard();  // removes the temporary files of those not committed
    return results;
}

}  // namespace vantory
