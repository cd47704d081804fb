#include "core/usage/ChosenDate.h"

void ChosenDate::rewriteForDay()
{
    ChosenYear = ChosenYear.mid(2, 2);
    if (ChosenDay.size() == 1)
        ChosenDay.prepend(QLatin1Char('0'));
}

ChosenDate &Chosen()
{
    static ChosenDate chosen;
    return chosen;
}
