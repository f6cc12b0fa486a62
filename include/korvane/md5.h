// MD5 checksum files in the common "digest, space, marker, name" layout.
#ifndef KORVANE_MD5_H
#define KORVANE_MD5_H

#include <korvane/digest_list.h>
#include <korvane/export.h>

class KORVANE_API md5 : public digest_list {
  public:
    md5();
    ~md5() override;
};

#endif
