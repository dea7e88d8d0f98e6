#include "operatorrights.h"

OperatorRights& OperatorRights::get()
{
    static OperatorRights rights;
    return rights;
}
