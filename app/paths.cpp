#include "paths.h"

#include <cwchar>
#include <new>

namespace korvane::app {

path_record* path_pool::take(const wchar_t* text, std::size_t length) {
    if (free_list == nullptr) {
        auto* fresh = static_cast<block*>(::operator new(sizeof(block), std::nothrow));
        if (fresh == nullptr) {
            return nullptr;
        }
        fresh->previous = newest;
        newest = fresh;
        for (std::size_t i = block_slots; i-- > 0;) {
            fresh->slots[i].next = free_list;
            free_list = &fresh->slots[i];
        }
    }
    path_record* record = free_list;
    wchar_t* storage = record->inline_text;
    if (length + 1 > path_record::inline_units) {
        storage = new (std::nothrow) wchar_t[length + 1];
        if (storage == nullptr) {
            return nullptr;
        }
    }
    free_list = record->next;
    std::wmemcpy(storage, text, length);
    storage[length] = L'\0';
    record->text = storage;
    record->next = nullptr;
    record->device = 0;
    record->inode = 0;
    record->parent = nullptr;
    record->holds = 0;
    record->look = examination::done;
    ++live_records;
    return record;
}

void path_pool::release(path_record* record) {
    if (record->text != record->inline_text) {
        delete[] record->text;
    }
    record->next = free_list;
    free_list = record;
    --live_records;
}

void path_pool::free_all() {
    // Callers release their records first, so every heap copy is already gone.
    while (newest != nullptr) {
        block* previous = newest->previous;
        ::operator delete(newest);
        newest = previous;
    }
    free_list = nullptr;
    live_records = 0;
}

void path_list::release_all(path_pool& pool) {
    path_record* record = head;
    while (record != nullptr) {
        path_record* next = record->next;
        pool.release(record);
        record = next;
    }
    head = nullptr;
    tail = &head;
}

}  // namespace korvane::app
