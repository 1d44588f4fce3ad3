#!/usr/bin/env bash
# Finds out what the sanitizer runtimes can do on this machine and prints
# shell assignments for the test runner:
#   KV_LEAKS=1|0          LeakSanitizer works (it needs to stop the world
#                         with ptrace, which some sandboxes refuse)
#   KV_TSAN_PREFIX=...    command prefix ThreadSanitizer needs; empty, or
#                         setarch -R where the kernel's address layout
#                         randomisation gives TSan "unexpected memory mapping"
#   KV_TSAN_OK=1|0        ThreadSanitizer runs at all
# Usage: eval "$(scripts/probe-sanitizers.sh DIR)"   (DIR: scratch folder)
set -uo pipefail
dir=${1:?scratch folder}
mkdir -p "$dir"
cd "$dir"

cat > leak.cpp <<'SRC'
#include <cstdlib>
// Leaks only when asked, so one program checks both that a clean exit
// passes and that a leak is reported.
int main(int argc, char**) {
  static void* volatile keep;
  void* p = std::malloc(64);
  keep = p;
  if (argc > 1) keep = nullptr;
  return 0;
}
SRC
cat > thread.cpp <<'SRC'
#include <atomic>
#include <thread>
int main() {
  std::atomic<int> n{0};
  std::thread t([&] { n++; });
  n++;
  t.join();
  return n == 2 ? 0 : 1;
}
SRC

leaks=0
if g++ -g -fsanitize=address leak.cpp -o leak >/dev/null 2>&1; then
  if ASAN_OPTIONS=detect_leaks=1 ./leak >/dev/null 2>&1 &&
     ! ASAN_OPTIONS=detect_leaks=1 ./leak leak >/dev/null 2>&1; then
    leaks=1
  fi
fi

tsan_ok=0
prefix=""
if g++ -g -fsanitize=thread thread.cpp -o thread -pthread >/dev/null 2>&1; then
  if ./thread >/dev/null 2>&1; then
    tsan_ok=1
  elif setarch "$(uname -m)" -R ./thread >/dev/null 2>&1; then
    tsan_ok=1
    prefix="setarch $(uname -m) -R"
  fi
fi

echo "KV_LEAKS=$leaks"
echo "KV_TSAN_OK=$tsan_ok"
echo "KV_TSAN_PREFIX='$prefix'"
