#include "ui/background.h"

namespace ktr {

QThreadPool* heavyWorkPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool; // never deleted: like the global pool, it outlives every job's owner
        p->setObjectName(QStringLiteral("heavy work"));
        return p;
    }();
    return pool;
}

} // namespace ktr
