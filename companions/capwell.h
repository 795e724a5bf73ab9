/* Capwell: records the capture side of the virtual device PARLUNE-01 (the
 * source parlune_01_mic) into a 16-bit PCM WAV file.
 *
 * Thread contract: the three calls come from one thread at a time; the
 * recording runs on two threads of the library (capture, file writer). */
#ifndef PARLUNE_CAPWELL_H
#define PARLUNE_CAPWELL_H

#ifdef __cplusplus
extern "C" {
#endif

#define CAPWELL_API __attribute__((visibility("default")))

/* The file the next start_record writes to (8-bit path, copied). */
CAPWELL_API void set_recorded_filename(const char* filename);
/* Recording has begun when this returns; a recording in progress is finished
 * first. Records nothing when no file name is set or the device or the file
 * cannot be opened. */
CAPWELL_API void start_record(void);
/* The file is complete and closed when this returns. */
CAPWELL_API void stop_record(void);

#ifdef __cplusplus
}
#endif

#endif
