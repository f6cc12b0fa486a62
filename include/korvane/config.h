// The per-user configuration store: a handful of key/value settings of 8-bit
// text, read once from the user's korvane.conf and rewritten by `set`.
#ifndef KORVANE_CONFIG_H
#define KORVANE_CONFIG_H

#include <memory>

#include <korvane/export.h>

class config;
struct config_access;

// One setting. A missing key is represented by a shared entry whose key and
// value are both null; the conversions below give false, null and 0 for it.
class KORVANE_API config_value {
  public:
    // Keeps private copies of both texts; a null argument leaves that field null.
    config_value(const char* key, const char* value);
    ~config_value();
    config_value(const config_value&) = delete;
    config_value& operator=(const config_value&) = delete;

    // True when the value is "true" in any ASCII letter case.
    operator bool() const;
    // The value as stored; null for a missing key.
    operator const char*() const;
    // The run of decimal digits at the start of the value; 0 when there is none,
    // when the key is missing, or when the number does not fit in 64 bits.
    operator unsigned long long() const;

  private:
    friend class config;
    friend struct config_access;

    // The store's entries form a list that the store takes apart one entry at
    // a time, so that no length of it can exhaust the stack.
    std::unique_ptr<config_value> next;
    std::unique_ptr<char[]> key;
    std::unique_ptr<char[]> value;
};

// The process-wide store. Created and loaded by the first instance() call and
// kept until the process ends. Not safe against a first call from two threads.
class KORVANE_API config {
  public:
    static config* instance();

    config(const config&) = delete;
    config& operator=(const config&) = delete;

    // The first entry whose key matches (ASCII letters compared without regard
    // to case), or the shared empty entry. Callers treat the result as read-only.
    const config_value& operator[](const char* key) const;
    // True when the key is present, even with an empty value.
    bool has_key(const char* key) const;
    // Stores the value in memory and rewrites the configuration file. Returns
    // false, with memory and file unchanged, when the setting cannot be kept.
    [[nodiscard]] bool set(const char* key, const char* value);

  private:
    friend struct config_access;

    config();
    ~config();

    static config* _instance;
    std::unique_ptr<config_value> first;
};

#endif
