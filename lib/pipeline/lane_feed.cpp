#include "pipeline/lane_feed.h"

#include <korvane/reader.h>

#include <algorithm>
#include <utility>

#include "hash/md5_lanes.h"
#include "hash/sha_lanes.h"
#include "pipeline/worker.h"
#include "platform/cpu.h"

namespace platform = korvane::platform;

namespace korvane::detail {

namespace {

// Bytes of each file read per turn when files go through the lanes: the
// pieces of all lanes stay in the CPU caches together.
constexpr std::uint32_t lane_piece = 64 * 1024;

}  // namespace

std::unique_ptr<hash_detail::stream_lanes> lane_feed::lanes_for(jobs_state::algorithm kind) {
    using algorithm = jobs_state::algorithm;
    if (kind == algorithm::md5 && korvane::md5mb::active_path() != korvane::md5mb::path::single) {
        return std::make_unique<korvane::md5mb::md5_lanes>();
    }
    if (kind != algorithm::sha1 && kind != algorithm::sha256) {
        return nullptr;
    }
    const sha::algorithm a =
        kind == algorithm::sha1 ? sha::algorithm::sha1 : sha::algorithm::sha256;
    if (shamb::active_path(a) == shamb::path::single) {
        return nullptr;
    }
    return std::make_unique<shamb::sha_lanes>(a);
}

lane_feed::lane_feed(worker& owner_worker, std::unique_ptr<hash_detail::stream_lanes> multi)
    : hashing(owner_worker),
      owner(owner_worker.owner),
      lanes(std::move(multi)),
      lane_count(std::min(lanes->lanes(), max_lanes)) {}

bool lane_feed::run() {
    pieces = allocate_aligned(std::size_t{lane_piece} * lane_count);
    if (!pieces) {
        return false;
    }
    for (;;) {
        fill_lanes();
        if (active == 0) {
            return true;  // claim() said stop
        }
        if (owner.stopped()) {
            drop_streams();
            return true;
        }
        step();
    }
}

// Takes files while lanes are free; waits for one only when no file is left
// in the lanes.
void lane_feed::fill_lanes() {
    while (active < lane_count) {
        std::uint64_t sequence = 0;
        if (deferred) {
            sequence = deferred_sequence;
            deferred = false;
        } else if (!(active == 0 ? owner.claim(sequence) : owner.try_claim(sequence))) {
            return;
        }
        if (!admit(sequence)) {
            deferred = true;
            deferred_sequence = sequence;
            return;
        }
    }
}

// Opens a claimed file and gives it a lane, or hashes it on its own, or
// finishes it when it cannot be opened. False when the process is out of
// descriptors or memory while files of this worker's are in the lanes: the
// file waits until one of them is done.
bool lane_feed::admit(std::uint64_t sequence) {
    for (int alone = 0;;) {
        const int shortage = try_admit(sequence);
        if (shortage == 0) {
            return true;
        }
        if (active > 0) {
            return false;
        }
        if (!hashing.ride_out(owner.slot(sequence), shortage, alone)) {
            owner.finish(sequence);
            return true;
        }
    }
}

// admit() once: 0, or the error number of a shortage of the process.
int lane_feed::try_admit(std::uint64_t sequence) {
    jobs_state::job& work = owner.slot(sequence);
    platform::file_handle file = platform::invalid_file;
    if (int shortage = hashing.open(work, file, active > 0); shortage != 0) {
        return shortage;
    }
    if (file == platform::invalid_file) {
        owner.finish(sequence);
        return 0;
    }
    // A large file alone, or one on a disk that seeks, goes the single-stream
    // way with the reader beside it: one lane of many would be slower than the
    // single-stream transform.
    const bool large_alone =
        work.size > reader::chunk_size && active == 0 && owner.nothing_waiting();
    const int lane = large_alone ? -1 : lanes->attach();
    if (lane < 0) {
        const int shortage = hashing.hash_alone(work, file);
        if (shortage == 0) {
            owner.finish(sequence);
        }
        return shortage;
    }
    stream& s = streams[active++];
    s = stream{
        sequence, file,  work.size,
        0,        0,     pieces.get() + static_cast<std::size_t>(lane) * lane_piece,
        0,        0,     0,
        lane,     false, work.size > reader::chunk_size && platform::on_rotational_disk(file),
        false};
    return 0;
}

// The run stops: every stream in the lanes lets go of its lane, its file and
// the disk.
void lane_feed::drop_streams() {
    for (int i = 0; i < active; ++i) {
        lanes->release(streams[i].lane);
        hashing.close(streams[i].file);
        release_disk(streams[i]);
    }
    active = 0;
}

// Reads the next piece of every stream that has used up its last one, runs
// the lanes over as many blocks as every stream with data has, and hands out
// the digests that are ready.
void lane_feed::step() {
    refill();

    const unsigned char* data[max_lanes] = {};
    const std::size_t blocks = gather(data);
    if (blocks == 0 && !any_finishing()) {
        // Every file here waits for the disk that another large file has.
        owner.step_aside();
        owner.disk.wait_while_taken();
        owner.step_back();
        return;
    }
    std::uint32_t ready = blocks != 0 ? lanes->run(data, blocks) : lanes->flush();

    advance(data, blocks);
    if (ready == 0) {
        return;
    }
    hand_out(ready);
}

// Reads the next piece of every stream that has used up its last one; a
// stream whose read fails ends with an error.
void lane_feed::refill() {
    for (int i = 0; i < active;) {
        stream& s = streams[i];
        if (s.finishing || s.used < s.filled) {
            ++i;
            continue;
        }
        const auto length =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(s.size - s.read, lane_piece));
        int failed = 0;
        if (length != 0) {
            failed = read_piece(s, length);
            if (failed == platform::would_need_disk) {
                ++i;  // another large file has the disk: this one waits its turn
                continue;
            }
        }
        if (failed != 0) {
            owner.slot(s.sequence).status = korvane::from_errno(reader::io_error);
            lanes->release(s.lane);
            end_stream(i);
            continue;
        }
        take_piece(s, length);
        ++i;
    }
}

// A stream has read a piece of `length` bytes into its buffer.
void lane_feed::take_piece(stream& s, std::uint32_t length) {
    s.read += length;
    s.used = 0;
    s.filled = length & ~63u;
    if (s.read == s.size) {
        s.tail = length - s.filled;
        if (s.filled == 0) {
            lanes->finish(s.lane, s.buffer, s.tail);
            s.finishing = true;
        }
    }
}

// Points every lane with data at its next block and returns how many blocks
// every one of them has (0 when none has data).
std::size_t lane_feed::gather(const unsigned char** data) const {
    std::size_t blocks = 0;
    for (int i = 0; i < active; ++i) {
        const stream& s = streams[i];
        if (!s.finishing && s.used < s.filled) {
            const std::size_t available = (s.filled - s.used) / 64;
            blocks = blocks == 0 ? available : std::min(blocks, available);
        }
    }
    for (int i = 0; i < active; ++i) {
        const stream& s = streams[i];
        if (!s.finishing && s.used < s.filled) {
            data[s.lane] = s.buffer + s.used;
        }
    }
    return blocks;
}

bool lane_feed::any_finishing() const {
    bool finishing = false;
    for (int i = 0; i < active; ++i) {
        finishing = finishing || streams[i].finishing;
    }
    return finishing;
}

// Counts the blocks the lanes have just hashed; a stream whose file is all
// hashed but its tail goes on to finishing.
void lane_feed::advance(const unsigned char* const* data, std::size_t blocks) {
    for (int i = 0; i < active; ++i) {
        stream& s = streams[i];
        if (s.finishing || data[s.lane] == nullptr) {
            continue;
        }
        s.used += static_cast<std::uint32_t>(blocks * 64);
        s.hashed += blocks * 64;
        worker::set_progress(owner.slot(s.sequence), s.hashed, s.size);
        if (s.used == s.filled && s.read == s.size) {
            lanes->finish(s.lane, s.buffer + s.filled, s.tail);
            s.finishing = true;
        }
    }
}

// Hands out the digests of the lanes in `ready` and ends their streams.
void lane_feed::hand_out(std::uint32_t ready) {
    for (int i = 0; i < active;) {
        stream& s = streams[i];
        if (!s.finishing || (ready & (1u << s.lane)) == 0) {
            ++i;
            continue;
        }
        jobs_state::job& work = owner.slot(s.sequence);
        lanes->take(s.lane, work.digest);
        work.percent.store(100, std::memory_order_relaxed);
        end_stream(i);
    }
}

// Reads the next piece of a stream. Of the large files on a disk that seeks,
// only one at a time reads from the disk itself; the others go on while their
// pieces are in memory already. Returns would_need_disk when the stream has
// to wait for the disk.
int lane_feed::read_piece(stream& s, std::uint32_t length) {
    if (!s.on_seeking_disk || s.holds_disk) {
        return hashing.read_at(s.file, s.buffer, length, s.read);
    }
    int failed = platform::read_if_cached(s.file, s.buffer, length, s.read);
    if (failed != platform::would_need_disk) {
        return failed;
    }
    if (!owner.disk.try_take()) {
        return platform::would_need_disk;
    }
    s.holds_disk = true;
    platform::advise_sequential(s.file);
    return hashing.read_at(s.file, s.buffer, length, s.read);
}

void lane_feed::release_disk(stream& s) {
    if (s.holds_disk) {
        s.holds_disk = false;
        owner.disk.give_back();
    }
}

void lane_feed::end_stream(int index) {
    const std::uint64_t sequence = streams[index].sequence;
    release_disk(streams[index]);
    hashing.close(streams[index].file);
    streams[index] = streams[--active];
    owner.finish(sequence);
}

}  // namespace korvane::detail
