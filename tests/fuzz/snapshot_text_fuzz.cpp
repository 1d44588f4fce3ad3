// The snapshot text must equal the compact writer's for any block and any
// sequence of changes to the snapshot object: rebuilds, members added,
// removed or given other values and types, as a holder of its address may.
// The input is a block image followed by a stream of operations.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <json/value.h>

#include "acquisition/data_block.h"
#include "fuzz_input.h"
#include "publication/signal_catalogue.h"
#include "publication/snapshot.h"
#include "publication/snapshot_text.h"

namespace {

using kvfuzz::Input;

void check(kvrm::SnapshotText& text, const Json::Value& snapshot) {
  if (text.text(snapshot) != kvrm::fast_writer_text(snapshot)) std::abort();
}

const char* member(Input& in) { return kvrm::kSignalCatalogue[in.byte() % kvrm::kSignalCatalogue.size()].name; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  unsigned char block[kvrm::kBlockSize] = {};
  const std::string image = in.bytes(kvrm::kBlockSize);
  std::memcpy(block, image.data(), image.size());

  Json::Value snapshot;
  kvrm::SnapshotMembers members;
  members.lend();
  kvrm::SnapshotText text;
  text.lend();  // the operations below change the object as a holder of its address may
  check(text, snapshot);
  members.write(snapshot, block);
  check(text, snapshot);
  while (!in.empty()) {
    switch (in.byte() % 9) {
      case 0:
        members.write(snapshot, block);
        break;
      case 1:
        snapshot[in.bytes(in.byte() % 24)];  // the inserting lookup adds a null member
        break;
      case 2: {
        const std::string bits = in.bytes(8) + std::string(8, '\0');
        double d;
        std::memcpy(&d, bits.data(), sizeof d);
        snapshot[member(in)] = d;
        break;
      }
      case 3: {
        const char* name = member(in);
        snapshot[name] = in.bytes(in.byte() % 24);
        break;
      }
      case 4: {
        const char* name = member(in);
        snapshot[name] = static_cast<Json::Int>(in.byte() << 8 | in.byte());
        break;
      }
      case 5:
        snapshot.removeMember(member(in));
        break;
      case 6: {
        const std::size_t at = (in.byte() << 8 | in.byte()) % kvrm::kBlockSize;
        block[at] = in.byte();
        break;
      }
      case 7:
        if (in.byte() % 8 == 0) snapshot = Json::Value(Json::objectValue);
        break;
      default:
        check(text, snapshot);
        break;
    }
  }
  check(text, snapshot);
  return 0;
}
