#pragma once

#include <QString>

// The date last clicked in the Analyse Data calendar, process-wide: the day
// window opens on it.
struct ChosenDate
{
    QString ChosenDay;  // day number as text: "15", "7"; the day window pads it to "07"
    int ChosenMonth = 0;  // 1 to 12
    QString ChosenYear;  // four digits, "2011"; the day window cuts it to "11"

    // What the day window does as it opens: the year becomes its third and
    // fourth characters and a one-character day gains a leading "0".
    void rewriteForDay();
};

ChosenDate &Chosen();
