#include "files/file_object.h"

namespace winsim {

FileObject::~FileObject() {
    if (record_)
        record_->close(fd());
}

}  // namespace winsim
