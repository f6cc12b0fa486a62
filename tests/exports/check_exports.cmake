# Fails when libkorvane exports anything beyond its public classes and C
# functions: hidden visibility must keep every internal helper out of the ABI.
#   cmake -DLIBRARY=path/to/libkorvane.so -P check_exports.cmake
execute_process(COMMAND nm -D --defined-only -C ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(public_names "hasher|crc|md5hasher|sha1hasher|sha256hasher|sha512hasher|blake3hasher|xxh64hasher|xxh3hasher|xxh128hasher|event|thread|reader|processor|file_jobs|container|sfv|md5|digest_list|sha1|sha256|sha512|blake3_list|config|config_value|cmdline|cmdline::arg|list_type")
set(count 0)
foreach(line IN LISTS lines)
    if(line STREQUAL "")
        continue()
    endif()
    string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" name "${line}")
    if(name MATCHES "^(MD5Init|MD5Update|MD5Final|g_version|status_from_errno\\(int\\)|status_cause\\(int, int\\*\\))$")
    elseif(name MATCHES "^std::__detail::")
        # Static data of inline standard-library templates is emitted as unique
        # global symbols whatever the visibility; it is not korvane's ABI.
    elseif(name MATCHES "^(typeinfo for |typeinfo name for |vtable for )?(${public_names})(::|$)")
    else()
        message(SEND_ERROR "unexpected export: ${name}")
    endif()
    math(EXPR count "${count} + 1")
endforeach()
if(count LESS 20)
    message(FATAL_ERROR "only ${count} exports found: the public classes are missing")
endif()
message(STATUS "${count} exports, all public")
