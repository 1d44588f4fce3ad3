// Status refresh and the payload handler.
// Not built yet: the host's default refresh, and every reply is ignored.
#include "plugin/kvrm4410t_q.h"

int KVRM4410T_Q::RefreshStatus() { return KVRM4410T_Q_Base::RefreshStatus(); }

int KVRM4410T_Q::process_payload(SPModbus::tab_type, unsigned int) { return 1; }
