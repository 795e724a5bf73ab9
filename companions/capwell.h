/* Capwell: records the capture side of the virtual device PARLUNE-01 (the
 * source parlune_01_mic) into a 16-bit PCM WAV file.
 *
 * Thread contract: the three calls may come from any thread and are
 * serialised by a lock of their own, held while a call runs (so a call waits
 * for another's start or stop). The recording runs on two threads of the
 * library: the capture thread reads the stream in 10 ms blocks into a ring
 * of four seconds of audio, and the file writer empties the ring into the
 * file every 10 ms. The capture thread never waits for the writer: when the
 * writer falls more than four seconds behind (a stalled disk), the samples
 * that do not fit in the ring are dropped, whole frames, and the file simply
 * lacks them (it comes out shorter, with a jump where they were).
 *
 * A recording outlives the device: when PARLUNE-01 goes away (or the audio
 * server with it), the capture thread puts silence into the ring at the
 * device's pace, and the stream is opened again, off the capture thread,
 * every 250 ms once the server lists the device again; nothing recorded
 * before is ever written twice. One line on stderr when the device goes and
 * one when it is back. */
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
 * cannot be opened. Talks to the audio server: when it does not answer, may
 * block for a few seconds (3 s for each step that waits on it). */
CAPWELL_API void start_record(void);
/* The file is complete and closed when this returns: waits for the capture
 * thread's block in hand (10 ms; up to the stream's 3 s stall timeout when
 * the device has stopped delivering), for an open of the device again that
 * is in hand (at once when the server is gone, up to 3 s for each step when
 * it does not answer) and for the writer to empty the ring.
 * The recording is written beside the file and renamed over it here, only
 * when every block and the header were written; otherwise an older file of
 * that name stays as it was and a line on stderr says why. */
CAPWELL_API void stop_record(void);

#ifdef __cplusplus
}
#endif

#endif
