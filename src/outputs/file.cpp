// SPDX-License-Identifier: MIT
// file.cpp: outputs written beside their targets and put in place
// together once every one is whole, or standard output.
#include "outputs/file.h"

#include "cli/command.h"
#include "cli/report.h"
#include "image/growing.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

// The outputs whose temporary files a failure removes: opened, and not yet
// put in place.
static growing_t<output_t *> pending;
static bool sync_to_disk = false;

void output_sync_to_disk()
{
    sync_to_disk = true;
}

static void remove_pending()
{
    for (size_t i = 0; i < pending.count; i++) {
        if (pending.items[i]->stream != nullptr)
            fclose(pending.items[i]->stream); // an open file cannot be removed everywhere
        platform_remove(pending.items[i]->temporary);
    }
    pending.count = 0;
}

static void forget(output_t *output)
{
    for (size_t i = 0; i < pending.count; i++)
        if (pending.items[i] == output)
            pending.items[i] = pending.items[--pending.count];
    if (pending.count == 0) {
        free(pending.items);
        pending = {};
    }
}

bool output_open(output_t *output, const char *path)
{
    output->path = path;
    output->temporary[0] = '\0';
    output->stream = nullptr;
    if (strcmp(path, "-") == 0) {
        output->stream = stdout;
        report_to_standard_error();
    } else {
        output_t **slot = grow(&pending, 1); // before the file, which a failure must find
        if (slot == nullptr)
            command_error("cannot allocate memory");
        *slot = output;
        output->stream = platform_create_beside(path, output->temporary, output->target);
        command_at_error(remove_pending);
        if (output->stream == nullptr) {
            forget(output);
            output->temporary[0] = '\0'; // what cannot be replaced is written in place
            output->stream = platform_open(path, "wb");
        }
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
    if (error == 0 && replaces && sync_to_disk && !platform_sync(output->stream))
        error = errno;
    if (output->stream != stdout && fclose(output->stream) != 0 && error == 0)
        error = errno;
    output->stream = nullptr;
    errno = error;
    return error == 0;
}

bool output_commit(output_t *output)
{
    if (output->temporary[0] == '\0')
        return true;
    forget(output);
    if (platform_replace(output->temporary, output->target, sync_to_disk))
        return true;
    int error = errno;
    platform_remove(output->temporary);
    errno = error;
    return false;
}

output_sink_t *output_sink_open(output_t *output)
{
    output_sink_t *sink = static_cast<output_sink_t *>(allocate(sizeof(output_sink_t)));
    sink->output = output;
    sink->used = 0;
    return sink;
}

static void flush(output_sink_t *sink)
{
    if (fwrite(sink->text, 1, sink->used, sink->output->stream) != sink->used)
        file_error("cannot write output file", sink->output->path);
    sink->used = 0;
}

char *output_sink_room(output_sink_t *sink, size_t size)
{
    if (sizeof sink->text - sink->used < size)
        flush(sink);
    return sink->text + sink->used;
}

void output_sink_put(output_sink_t *sink, const void *data, uint64_t size)
{
    if (size < sizeof sink->text) {
        memcpy(output_sink_room(sink, size_t(size)), data, size_t(size));
        sink->used += size_t(size);
        return;
    }
    flush(sink);
    if (fwrite(data, 1, size_t(size), sink->output->stream) != size)
        file_error("cannot write output file", sink->output->path);
}

void output_sink_close(output_sink_t *sink)
{
    flush(sink);
    free(sink);
}
