// The JSON snapshot rebuild. Not built yet: nothing is published.
#include "plugin/kvrm4410t_q.h"

void KVRM4410T_Q::GenJsonData() {}
