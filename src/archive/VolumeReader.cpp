#include "archive/VolumeReader.h"

#include "i18n/Catalogue.h"
#include "platform/TextConvert.h"

#include <algorithm>
#include <cstring>

bool VolumeReader::Open(const std::string& path, bool zipped) {
    file_.gzipMode = zipped;
    window_.clear();
    windowPos_ = 0;
    return file_.fOpen(path, clsFile::kRead) == 1;
}

std::string_view VolumeReader::Read(std::int64_t position, std::int64_t length) {
    const std::int64_t windowEnd = windowPos_ + Size();
    if (position < windowPos_ || position > windowEnd) {
        window_.clear();
        windowPos_ = position;
    } else if (position + length > windowEnd) {
        // Keep the part still wanted: a gzip stream cannot go back for it.
        window_.erase(0, static_cast<std::size_t>(position - windowPos_));
        windowPos_ = position;
    }
    const std::int64_t have = windowPos_ + Size() - position;
    if (have < length) {
        const std::int64_t want = std::max(length, kArchiveIoRun) - Size();
        file_.fRead(chunk_, want, windowPos_ + Size());
        window_ += chunk_;
    }
    const std::int64_t at = position - windowPos_;
    return std::string_view(window_).substr(
        static_cast<std::size_t>(at), static_cast<std::size_t>(std::min(length, Size() - at)));
}

namespace {

// Reading one entry: where it stands and what it has found so far.
class EntryReader {
public:
    EntryReader(const clsRestoreFileData& rec, const VolumeRun& run, EntrySink& sink,
                std::string& why)
        : rec_(rec), run_(run), sink_(sink), why_(why), volume_(run.first), position_(rec.soffs) {}

    EntryRead Run() {
        reader_ = sink_.OpenVolume(run_, volume_);
        if (reader_ == nullptr)
            return EntryRead::Reported;
        if (const EntryRead blocks = CopyBlocks(); blocks != EntryRead::Ok)
            return blocks;
        return CheckTrailer();
    }

private:
    EntryRead CopyBlocks() {
        const std::int64_t recsize = rec_.recsize;
        const std::int64_t runBlocks = std::max<std::int64_t>(1, kArchiveIoRun / recsize);
        std::int64_t blocksLeft = DataBlockCount(rec_.size, recsize);
        while (blocksLeft > 0) {
            if (!sink_.KeepGoing())
                return EntryRead::Stopped;
            const std::string_view got =
                reader_->Read(position_, std::min(blocksLeft, runBlocks) * recsize);
            if (got.empty()) {
                if (const EntryRead next = NextVolume(); next != EntryRead::Ok)
                    return next;
                continue;
            }
            if (static_cast<std::int64_t>(got.size()) % recsize != 0)
                return ShortRead(true);
            sum_.Add(got);
            const std::string_view data = got.substr(
                0,
                static_cast<std::size_t>(std::min<std::int64_t>(got.size(), rec_.size - written_)));
            if (!data.empty() && !sink_.Write(data, written_))
                return EntryRead::Reported;
            written_ += static_cast<std::int64_t>(data.size());
            position_ += static_cast<std::int64_t>(got.size());
            blocksLeft -= static_cast<std::int64_t>(got.size()) / recsize;
            sink_.Progress(run_, volume_, written_);
        }
        return EntryRead::Ok;
    }

    EntryRead CheckTrailer() {
        const std::int64_t recsize = rec_.recsize;
        std::string_view trailer = reader_->Read(position_, recsize);
        if (trailer.empty()) {
            if (const EntryRead next = NextVolume(); next != EntryRead::Ok)
                return next;
            trailer = reader_->Read(position_, recsize);
        }
        if (static_cast<std::int64_t>(trailer.size()) != recsize)
            return ShortRead(!trailer.empty());
        if (volume_ != run_.last || position_ + recsize != rec_.dendoffset) {
            why_ = GetMsg("strMsgEntryEndsElsewhere", {{"%d", run_.Name(volume_)},
                                                       {"%n", std::to_string(position_ + recsize)},
                                                       {"%v", rec_.arcEnd},
                                                       {"%m", std::to_string(rec_.dendoffset)}});
            return EntryRead::Failed;
        }
        if (!TrailerNames(trailer, rec_.fname, rec_.size, rec_.crc)) {
            why_ = GetMsg("strMsgTrailerMismatch");
            return EntryRead::Failed;
        }
        const std::string actual = HexString(sum_.Bytes());
        if (actual != ToUpperAscii(rec_.crc)) {
            why_ =
                GetMsg("strMsgChecksumMismatch", {{"%c", actual}, {"%x", ToUpperAscii(rec_.crc)}});
            return EntryRead::Failed;
        }
        if (rec_.size == 0)
            sink_.Progress(run_, volume_, 0);
        return EntryRead::Ok;
    }

    // On to the next volume where one ends.
    EntryRead NextVolume() {
        if (volume_ >= run_.last)
            return ShortRead(false);
        ++volume_;
        position_ = 0;
        reader_ = sink_.OpenVolume(run_, volume_);
        return reader_ != nullptr ? EntryRead::Ok : EntryRead::Reported;
    }

    EntryRead ShortRead(bool insideABlock) {
        why_ = GetMsg(insideABlock ? "strMsgShortReadInBlock" : "strMsgShortRead",
                      {{"%d", VolumeFileName(run_.Name(volume_))},
                       {"%n", std::to_string(written_)},
                       {"%m", std::to_string(rec_.size)}});
        if (reader_->LastErrno() != 0)
            why_ += " (" + std::string(std::strerror(reader_->LastErrno())) + ")";
        return EntryRead::Failed;
    }

    const clsRestoreFileData& rec_;
    const VolumeRun& run_;
    EntrySink& sink_;
    std::string& why_;
    VolumeReader* reader_ = nullptr;
    std::int64_t volume_;
    std::int64_t position_;
    std::int64_t written_ = 0;
    BlockChecksum sum_;
};

} // namespace

EntryRead ReadEntry(const clsRestoreFileData& rec, EntrySink& sink, std::string& why) {
    const std::optional<VolumeRun> run = VolumeRunOf(rec);
    if (!run) {
        why = RecordDamage(rec);
        return EntryRead::Failed;
    }
    return EntryReader(rec, *run, sink, why).Run();
}
