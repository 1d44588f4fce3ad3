// Control commands. Not built yet: the host's handler answers.
#include "plugin/kvrm4410t_q.h"

int KVRM4410T_Q::DeviceIoControl(int code, const void* in, int inLen, void* out, int outLen, int& outLenRet) {
  return KVRM4410T_Q_Base::DeviceIoControl(code, in, inLen, out, outLen, outLenRet);
}

int KVRM4410T_Q::confirm_write() { return 0; }
