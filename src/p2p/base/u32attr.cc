#include "p2p/base/u32attr.h"

#include "p2p/base/wirebuffer.h"

namespace vexalo {

bool U32Attr::ReadValue(WireBuffer* reader) { return reader->ReadU32(&value_); }

void U32Attr::WriteValue(WireBuffer* writer) const { writer->WriteU32(value_); }

}  // namespace vexalo
