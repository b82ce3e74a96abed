// Whether the program may draw with visual themes at all. The theme helper
// reads it before it asks the system; tests turn themes off so that every
// picture is the classic one on every machine.
#pragma once

void SetThemesAllowed(bool allowed);
bool AreThemesAllowed();
