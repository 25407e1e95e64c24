// The time limit of the Linux HTTP layer that tests shorten: an exchange in which
// no byte arrives for this long ends as a failed read (60 s unless set).
#pragma once

namespace nds {

// Seconds, 1 to 3600; for every exchange that starts afterwards, in any thread.
void setStallLimitSeconds(int seconds);

}  // namespace nds
