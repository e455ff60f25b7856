// SPDX-License-Identifier: MIT
// output_file.cpp: an output written beside its target and put in its place
// once whole.
#include "output.h"

#include "command.h"
#include "platform.h"

#include <cerrno>

// The output being written, whose temporary file a failure removes.
static output_t *pending_output = nullptr;

static void remove_pending()
{
    if (pending_output != nullptr && pending_output->temporary[0] != '\0') {
        fclose(pending_output->stream); // an open file cannot be removed everywhere
        platform_remove(pending_output->temporary);
    }
}

bool output_open(output_t *output, const char *path)
{
    output->path = path;
    output->temporary[0] = '\0';
    output->stream = platform_create_beside(path, output->temporary, output->target);
    if (output->stream != nullptr) {
        pending_output = output;
        command_at_error(remove_pending);
    } else {
        output->temporary[0] = '\0'; // what cannot be replaced is written in place
        output->stream = platform_open(path, "wb");
    }
    // the writers gather what they write in large pieces of their own
    if (output->stream != nullptr)
        setvbuf(output->stream, nullptr, _IONBF, 0);
    return output->stream != nullptr;
}

bool output_close(output_t *output)
{
    // the first failure's reason is the one to tell
    bool replaces = output->temporary[0] != '\0';
    int error = fflush(output->stream) != 0 || ferror(output->stream) ? errno : 0;
    if (error == 0 && replaces && !platform_sync(output->stream))
        error = errno;
    if (fclose(output->stream) != 0 && error == 0)
        error = errno;
    if (replaces) {
        if (error == 0 && !platform_replace(output->temporary, output->target))
            error = errno;
        if (error != 0)
            platform_remove(output->temporary);
    }
    pending_output = nullptr;
    errno = error;
    return error == 0;
}
