// What the list formats take from the user's configuration, and the one place
// they ask for it. Library callers get the configuration store's values;
// tests hand a list values of their own.
#ifndef KORVANE_FORMATS_SETTINGS_H
#define KORVANE_FORMATS_SETTINGS_H

#include <cstdint>
#include <optional>
#include <string>

namespace korvane::detail {

struct list_settings {
    // New SFV lists carry the compatibility header line.
    bool compatible_header = false;
    // The installation's signature that tags carry and are compared with;
    // none until a run has kept one. An empty text is a signature too.
    std::optional<std::string> signature;
    // How long a tag stays trusted, in 100-ns ticks; 0 for ever.
    std::uint64_t expiry = 0;
    // Whether a verification run may rewrite the tag.
    bool update_tag = true;
    // New digest lists record each file's size and modification time.
    bool write_records = false;
};

// Where a list's settings come from. A list asks when it acts (open, create,
// close), so a setting changed while a list is open counts from its next step.
class settings_source {
  public:
    virtual ~settings_source() = default;

    // The settings as they stand now.
    virtual list_settings current() = 0;
    // Whether a tag may be trusted or written at all: a signature kept where
    // others may change it could be theirs. Asked once as a list opens.
    virtual bool signature_trusted() = 0;
    // Keeps `made` as the signature unless one is kept already: of several
    // first runs at once, one signature wins and every run takes that one.
    // False when no signature could be kept.
    virtual bool remember_signature(const std::string& made) = 0;
};

// The user's configuration store: "win-sfv_compatibile", "signature",
// "expiretime", "updatedb" and "recordtimes", read at each call, a new signature stored
// under "Signature".
class store_settings final : public settings_source {
  public:
    list_settings current() override;
    bool signature_trusted() override;
    bool remember_signature(const std::string& made) override;
};

}  // namespace korvane::detail

#endif
