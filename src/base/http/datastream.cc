#include "base/http/datastream.h"

#include <string>

namespace vexalo {

StreamResult DataStream::WriteAll(const void* data, size_t length, size_t* written, int* error) {
  const char* bytes = static_cast<const char*>(data);
  size_t total = 0;
  StreamResult result = SR_SUCCESS;
  while (total < length) {
    size_t count = 0;
    result = Write(bytes + total, length - total, &count, error);
    if (result != SR_SUCCESS) break;
    total += count;
  }
  if (written) *written = total;
  return result;
}

StreamResult DataStream::ReadLine(std::string* line) {
  line->clear();
  StreamResult result = SR_SUCCESS;
  for (;;) {
    char c;
    size_t count = 0;
    result = Read(&c, 1, &count, nullptr);
    if (result != SR_SUCCESS) break;
    if (c == '\n') return SR_SUCCESS;
    line->push_back(c);
  }
  return line->empty() ? result : SR_SUCCESS;
}

}  // namespace vexalo
