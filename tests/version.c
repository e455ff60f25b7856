/* SPDX-License-Identifier: MIT */
/* quillkit's version as a C99 program sees it, installed: the macros, the
 * number and qkit_version() must all say EXPECTED_VERSION, the project's. */
#include <quillkit/quillkit.h>

#include <stdio.h>
#include <string.h>

int main(void)
{
    char macros[32];
    sprintf(macros, "%d.%d.%d", QKIT_VERSION_MAJOR, QKIT_VERSION_MINOR, QKIT_VERSION_PATCH);
    if (strcmp(macros, EXPECTED_VERSION) != 0 || strcmp(qkit_version(), EXPECTED_VERSION) != 0 ||
        QKIT_VERSION_NUMBER != EXPECTED_NUMBER) {
        printf("expected %s (%d); the macros say %s (%d), qkit_version() %s\n", EXPECTED_VERSION, EXPECTED_NUMBER,
               macros, QKIT_VERSION_NUMBER, qkit_version());
        return 1;
    }
    return 0;
}
