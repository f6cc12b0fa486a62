// The list formats' settings from the user's configuration store: the only
// place the formats reach the store.
#include "formats/settings.h"

#include <korvane/config.h>

#include "config/config_internal.h"
#include "formats/tag.h"

namespace korvane::detail {

list_settings store_settings::current() {
    const config& store = *config::instance();
    list_settings settings;
    settings.compatible_header = static_cast<bool>(store["win-sfv_compatibile"]);
    if (const char* signature = store["signature"]; signature != nullptr) {
        settings.signature = signature;
    }
    settings.expiry = expiry_ticks(store["expiretime"]);
    // Only a value other than "true" forbids the rewrite; no value allows it.
    settings.update_tag = !store.has_key("updatedb") || static_cast<bool>(store["updatedb"]);
    settings.write_records = static_cast<bool>(store["recordtimes"]);
    return settings;
}

bool store_settings::signature_trusted() {
    return config_access::folder_is_private();
}

bool store_settings::remember_signature(const std::string& made) {
    // Stored under the capitalised key; lookups ignore the case.
    return config_access::set_unless_present("Signature", made.c_str()) &&
           config::instance()->has_key("signature");
}

}  // namespace korvane::detail
