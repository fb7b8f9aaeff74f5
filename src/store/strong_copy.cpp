#include "store/strong_copy.h"

#include <algorithm>
#include <cerrno>

namespace vantory {

namespace {

// The output buffer takes what either stream writes for a piece, and its end.
constexpr size_t kOutputSize =
    std::max(StrongSealer::maxOutput(StrongCopier::kPiece) + StrongSealer::kMaxFinishOutput,
             StrongOpener::maxOutput(StrongCopier::kPiece) + StrongOpener::kMaxFinishOutput);

}  // namespace

std::string StrongOutcome::message() const {
    return refusal != StrongRefusal::kNone ? strongRefusalWords(refusal) : status.message();
}

StrongCopier::StrongCopier(const SecretBytes& masterKey, Pacer* pacer)
    : masterKey_(masterKey), pacer_(pacer) {}

StrongCopier::~StrongCopier() {
    // The last pieces of content read or opened.
    if (input_) {
        wipeBytes(input_.get(), kPiece);
    }
    for (const auto& piece : output_.pieces) {
        if (piece) {
            wipeBytes(piece.get(), kOutputSize);
        }
    }
}

template <class Stream>
StrongOutcome StrongCopier::stream(const std::string& source, platform::AtomicFile& out,
                                   Stream& transform) {
    platform::InputFile in;
    if (Status s = in.open(source); !s.ok()) {
        return {.status = s};
    }
    if (!input_) {
        input_ = std::make_unique_for_overwrite<uint8_t[]>(kPiece);
        output_.pieces[0] = std::make_unique_for_overwrite<uint8_t[]>(kOutputSize);
    }
    FileBytes* bytes = pacer_ != nullptr ? pacer_->fileBytes() : nullptr;
    if (bytes != nullptr) {
        *bytes = {0, platform::fileSize(source).value_or(0)};
    }
    if (Status s = out.open(); !s.ok()) {
        return {.status = s};
    }
    size_t got = 0;
    const auto readPiece = [&] {
        const Status s = in.read(input_.get(), kPiece, got);
        in.dropRead();  // each file is read once; keep the page cache for the rest
        if (bytes != nullptr) {
            bytes->done += got;
        }
        tick(pacer_);
        return s;
    };
    if (Status s = readPiece(); !s.ok()) {
        return {.status = s};
    }
    if (got < kPiece) {  // the whole file, written in one go
        uint8_t* output = output_.pieces[0].get();
        size_t n = transform.update(input_.get(), got, output);
        n += transform.finish(output + n);
        if (Status s = out.write(output, n); !s.ok()) {
            return {.status = s};
        }
    } else {  // sealed or opened while the piece before is written
        PieceWriter writer(out, kOutputSize, &output_);
        for (bool end = false; !end && transform.refusal() == StrongRefusal::kNone;) {
            uint8_t* output = writer.take();
            if (output == nullptr) {
                break;  // drain() reports the error
            }
            end = got == 0;
            writer.submit(end ? transform.finish(output)
                              : transform.update(input_.get(), got, output));
            if (Status s = end ? Status::success() : readPiece(); !s.ok()) {
                return {.status = s};
            }
        }
        if (Status s = writer.drain(); !s.ok()) {
            return {.status = s};
        }
    }
    in.close();  // Windows refuses to replace a file that is open
    return {.refusal = transform.refusal(), .status = Status::success()};
}

StrongOutcome StrongCopier::seal(const std::string& source, const std::string& target,
                                 std::string_view binding, platform::FileMode mode,
                                 int attributes) {
    const std::optional<uint64_t> size = platform::fileSize(source);
    if (!size) {
        const Status probe = platform::probePath(source);  // why it has no size
        return {.status = probe.ok() ? Status{EINVAL} : probe};
    }
    if (Status s = platform::makeFolders(platform::parentFolder(target)); !s.ok()) {
        return {.status = s};
    }
    platform::AtomicFile out(target, mode);
    StrongSealer sealer(masterKey_, binding, *size);
    if (StrongOutcome outcome = stream(source, out, sealer); !outcome.ok()) {
        return outcome;
    }
    if (attributes != platform::kNormal) {
        if (Status s = platform::setAttributes(out.temporaryPath(), attributes); !s.ok()) {
            return {.status = s};
        }
    }
    return {.status = out.commit()};
}

StrongOutcome StrongCopier::open(const std::string& source, const std::string& target,
                                 std::string_view binding, platform::FileMode mode,
                                 platform::Existing existing) {
    platform::AtomicFile out(target, mode, existing);
    StrongOpener opener(masterKey_, binding);
    if (StrongOutcome outcome = stream(source, out, opener); !outcome.ok()) {
        return outcome;
    }
    return {.status = out.commit()};
}

}  // namespace vantory
