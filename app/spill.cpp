#include "spill.h"

#include <algorithm>
#include <cstring>

#include "platform/listing.h"
#include "platform/text.h"

namespace korvane::app {

status spill_buffer::fail_with(int error) {
    if (error == 0) {
        return status::ok;
    }
    error_ = error;
    return error > 0 ? from_errno(error) : status::unknown_error;
}

std::wstring spill_buffer::place() const {
    std::wstring folder;
    if (beside_.empty() && platform::temporary_folder(folder) != 0) {
        folder = L".";
    }
    return beside_.empty() ? folder : beside_;
}

status spill_buffer::spill() {
    if (!scratch_.is_open()) {
        // A scratch file goes into the folder of the path it is made beside.
        const std::wstring where = beside_.empty() ? place() + L"/scratch" : beside_;
        if (int error = scratch_.create_scratch_beside(where.c_str()); error != 0) {
            return fail_with(error);
        }
    }
    const int error = scratch_.write_all(memory_.data(), memory_.size());
    memory_.clear();
    return fail_with(error);
}

status spill_buffer::append(const void* data, std::size_t size) {
    if (memory_.size() + size > bound_ && !memory_.empty()) {
        if (status result = spill(); result != status::ok) {
            return result;
        }
    }
    if (memory_.capacity() < bound_) {
        memory_.reserve(bound_);
    }
    const char* bytes = static_cast<const char*>(data);
    memory_.insert(memory_.end(), bytes, bytes + size);
    return status::ok;
}

status spill_buffer::rewind() {
    read_at_ = 0;
    if (!scratch_.is_open()) {
        return status::ok;
    }
    if (status result = spill(); result != status::ok) {
        return result;
    }
    return fail_with(scratch_.seek(0));
}

status spill_buffer::refill() {
    // Keeps the unread tail and reads the file on behind it.
    memory_.erase(memory_.begin(), memory_.begin() + static_cast<std::ptrdiff_t>(read_at_));
    read_at_ = 0;
    const std::size_t kept = memory_.size();
    memory_.resize(std::max(bound_, kept + 1));
    const std::int64_t got = scratch_.read(memory_.data() + kept, memory_.size() - kept);
    memory_.resize(kept + static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
    return got < 0 ? fail_with(static_cast<int>(-got)) : status::ok;
}

status spill_buffer::read(void* out, std::size_t size, bool& got) {
    got = false;
    // Refills until the bytes are there or the file gives no more.
    for (std::size_t held = memory_.size() - read_at_; held < size && scratch_.is_open();) {
        if (status result = refill(); result != status::ok) {
            return result;
        }
        const std::size_t now = memory_.size() - read_at_;
        if (now == held) {
            break;
        }
        held = now;
    }
    if (memory_.size() - read_at_ < size) {
        return status::ok;
    }
    std::memcpy(out, memory_.data() + read_at_, size);
    read_at_ += size;
    got = true;
    return status::ok;
}

void spill_buffer::clear() {
    (void)scratch_.close();
    memory_.clear();
    memory_.shrink_to_fit();
    read_at_ = 0;
}

}  // namespace korvane::app
