// The desktop program around zemtabuloMain(): what it sets up once the QApplication exists.
#pragma once

// Application name and icon, Qt's own texts in Japanese, the main dialog's Start, About and
// Port settings buttons shown (its template hides them, and nothing else issues their
// commands), and the clock taken from the environment (ZEMTABULO_TIME_SCALE) for
// demonstrations and tests.
void setUpDesktopProgram();
