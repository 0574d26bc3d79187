#include "platform/secretstore.h"

#include <string.h>

namespace vexalo {

const char* SecretResultName(SecretResult result) {
  switch (result) {
    case SecretResult::kOk:
      return "ok";
    case SecretResult::kNotFound:
      return "not found";
    case SecretResult::kUnavailable:
      return "no secret store";
  }
  return "<unknown>";
}

void WipeString(std::string* text) {
  if (!text->empty()) explicit_bzero(text->data(), text->size());
  text->clear();
}

}  // namespace vexalo
