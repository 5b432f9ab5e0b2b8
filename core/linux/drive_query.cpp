#include "core/linux/drive_query.h"

#include <cstring>
#include <limits>

#include "core/linux/volume_parse.h"

namespace koravex {
namespace {

std::optional<std::int64_t> bytes(std::uint64_t count, std::uint64_t unit) {
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(count, unit, &product) ||
        product > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(product);
}

// Both ends of the socket are the same program on the same machine: native byte order.
class Writer {
  public:
    explicit Writer(HelperRecord kind) {
        put(std::uint32_t{0});  // the record's whole length, filled in by take()
        out_.push_back(static_cast<char>(kind));
    }
    template <typename T>
    Writer& put(T value) {
        char raw[sizeof(T)];
        std::memcpy(raw, &value, sizeof(T));
        out_.append(raw, sizeof(T));
        return *this;
    }
    Writer& text(std::string_view s) {
        put(static_cast<std::uint32_t>(s.size()));
        out_.append(s);
        return *this;
    }
    std::string take() {
        const auto length = static_cast<std::uint32_t>(out_.size());
        std::memcpy(out_.data(), &length, sizeof length);
        return std::move(out_);
    }

  private:
    std::string out_;
};

class Reader {
  public:
    Reader(std::string_view in, HelperRecord kind) : in_(in) {
        const auto length = recordLength(in_);
        ok_ = in_.size() >= kHelperRecordHeader && in_.size() <= kHelperRecordMax &&
              length == in_.size() && in_[4] == static_cast<char>(kind);
        at_ = kHelperRecordHeader;
    }
    template <typename T>
    T get() {
        T value{};
        if (!ok_ || in_.size() - at_ < sizeof(T)) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, in_.data() + at_, sizeof(T));
        at_ += sizeof(T);
        return value;
    }
    std::string text() {
        const auto size = get<std::uint32_t>();
        if (!ok_ || in_.size() - at_ < size) {
            ok_ = false;
            return {};
        }
        std::string s(in_.substr(at_, size));
        at_ += size;
        return s;
    }
    // Everything read and nothing left over.
    bool done() const { return ok_ && at_ == in_.size(); }

  private:
    std::string_view in_;
    std::size_t at_ = 0;
    bool ok_ = false;
};

}  // namespace

DriveAnswer answerFrom(const struct statvfs& st, const VolumeIds& ids, const DriveCandidate& c) {
    DriveAnswer a;
    const std::uint64_t unit = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
    const auto total = bytes(st.f_blocks, unit);
    const auto free = bytes(st.f_bfree, unit);
    const auto caller = bytes(st.f_bavail, unit);
    if (total && free && caller)
        a.space = DriveSpace{*caller, *total, *free};
    VolumeInfo v;
    v.name = volumeNameText(ids.label);
    const auto serial = serialFromUuid(ids.uuid);
    v.serial = serial ? *serial : static_cast<std::uint32_t>(st.f_fsid & 0xFFFFFFFFu);
    v.fileSystem = fileSystemName(c.fsType);
    a.volume = std::move(v);
    return a;
}

DriveAnswer DriveQueryAnswerer::answer(const DriveCandidate& c) {
    if (!c.mounted || c.mountPoints.empty())
        return {};  // an empty optical drive: both queries fail
    struct statvfs st {};
    if (calls_.statvfs(c.mountPoints.front(), st) != 0)
        return {};
    VolumeIds ids;
    {
        std::lock_guard lock(mutex_);
        const auto it = ids_.find(c.key);
        if (it != ids_.end() && it->second.mountId == c.mountId)
            ids = it->second;
        else
            ids.mountId = c.mountId + 1;  // unknown yet: read below, outside the lock
    }
    if (ids.mountId != c.mountId) {
        ids = readVolumeIds(calls_, roots_, c);
        std::lock_guard lock(mutex_);
        ids_.insert_or_assign(c.key, ids);
    }
    return answerFrom(st, ids, c);
}

std::optional<std::uint32_t> recordLength(std::string_view head) {
    std::uint32_t length = 0;
    if (head.size() < sizeof length)
        return std::nullopt;
    std::memcpy(&length, head.data(), sizeof length);
    return length;
}

std::string encodeQuestion(std::uint64_t id, const DriveCandidate& c) {
    Writer w(HelperRecord::Question);
    w.put(id).text(c.key).put(static_cast<std::uint8_t>(c.kind));
    w.put(static_cast<std::uint8_t>(c.isRoot)).put(static_cast<std::uint8_t>(c.mounted));
    w.put(c.mountId).put(c.major).put(c.minor).text(c.fsType).text(c.source);
    w.text(c.mountPoints.empty() ? std::string_view{} : std::string_view{c.mountPoints.front()});
    return w.take();
}

std::optional<std::pair<std::uint64_t, DriveCandidate>> decodeQuestion(std::string_view bytes) {
    Reader r(bytes, HelperRecord::Question);
    DriveCandidate c;
    const auto id = r.get<std::uint64_t>();
    c.key = r.text();
    const auto kind = r.get<std::uint8_t>();
    c.isRoot = r.get<std::uint8_t>() != 0;
    c.mounted = r.get<std::uint8_t>() != 0;
    c.mountId = r.get<unsigned>();
    c.major = r.get<unsigned>();
    c.minor = r.get<unsigned>();
    c.fsType = r.text();
    c.source = r.text();
    std::string point = r.text();
    if (!r.done() || kind > static_cast<std::uint8_t>(DriveKind::Other))
        return std::nullopt;
    c.kind = static_cast<DriveKind>(kind);
    if (!point.empty())
        c.mountPoints.push_back(std::move(point));
    return std::pair{id, std::move(c)};
}

std::string encodeReply(const DriveReply& reply) {
    Writer w(HelperRecord::Answer);
    const DriveAnswer& a = reply.answer;
    const std::uint8_t flags =
        static_cast<std::uint8_t>((a.space ? 1 : 0) | (a.volume ? 2 : 0) | (reply.lost ? 4 : 0));
    w.put(reply.id).put(flags);
    if (a.space)
        w.put(a.space->freeToCaller).put(a.space->total).put(a.space->totalFree);
    if (a.volume)
        w.text(a.volume->name).put(a.volume->serial).text(a.volume->fileSystem);
    return w.take();
}

std::optional<DriveReply> decodeReply(std::string_view bytes) {
    Reader r(bytes, HelperRecord::Answer);
    DriveReply reply;
    reply.id = r.get<std::uint64_t>();
    const auto flags = r.get<std::uint8_t>();
    if (flags & 1) {
        DriveSpace s;
        s.freeToCaller = r.get<std::int64_t>();
        s.total = r.get<std::int64_t>();
        s.totalFree = r.get<std::int64_t>();
        reply.answer.space = s;
    }
    if (flags & 2) {
        VolumeInfo v;
        v.name = r.text();
        v.serial = r.get<std::uint32_t>();
        v.fileSystem = r.text();
        reply.answer.volume = std::move(v);
    }
    reply.lost = (flags & 4) != 0;
    if (!r.done() || flags > 7)
        return std::nullopt;
    return reply;
}

std::string encodePing(std::uint64_t id) {
    return Writer(HelperRecord::Ping).put(id).take();
}

std::optional<std::uint64_t> decodePing(std::string_view bytes) {
    Reader r(bytes, HelperRecord::Ping);
    const auto id = r.get<std::uint64_t>();
    return r.done() ? std::optional{id} : std::nullopt;
}

}  // namespace koravex
