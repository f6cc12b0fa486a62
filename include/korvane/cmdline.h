// Splits the program's wide argument vector into NAME=VALUE arguments. It
// knows no options: deciding what a name means is the caller's business.
#ifndef KORVANE_CMDLINE_H
#define KORVANE_CMDLINE_H

#include <memory>

#include <korvane/export.h>

class KORVANE_API cmdline {
  public:
    class KORVANE_API arg {
      public:
        arg(const wchar_t* name_text, const wchar_t* value_text);
        ~arg();
        arg(const arg&) = delete;
        arg& operator=(const arg&) = delete;

        arg* next = nullptr;
        wchar_t* name = nullptr;   // never null
        wchar_t* value = nullptr;  // null when the element had no usable '='
    };

    // Builds the list from argv[1] .. argv[argc - 1].
    cmdline(int argc, wchar_t** argv);
    virtual ~cmdline();
    cmdline(const cmdline&) = delete;
    cmdline& operator=(const cmdline&) = delete;

    // The first argument for null, otherwise `previous->next`.
    arg* get_next_arg(arg* previous) const;

  private:
    // The records form a list through their public `next` links; each record
    // frees the records behind it.
    std::unique_ptr<arg> first;
};

#endif
