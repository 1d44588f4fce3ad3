// The plug-in's one exported symbol.
#include <memory>
#include <vector>

#include "plugin/kvrm4410t_q.h"

extern "C" __attribute__((visibility("default"))) std::vector<std::shared_ptr<Provider>> get_providers() {
  return {std::make_shared<KVRM4410T_QProvider>()};
}
