// Point reads. Not built yet: the host's default answer.
#include "plugin/kvrm4410t_q.h"

double KVRM4410T_Q::Get_Value(unsigned int index, const std::string& name) const {
  return KVRM4410T_Q_Base::Get_Value(index, name);
}
