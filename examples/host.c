/* A minimal host: finds a Vorn device, describes it, records ten lines and
 * closes. Build against vorn.h and link the library (libvorn.so, or the
 * import library of Vorn(7u).dll). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vorn.h"

#define MAX_CHANNELS 64

static void PrintGeneralMessage(void) {
  /* Size first, then the copy. */
  int32_t size = GetLastErrorMsg(-1, NULL);
  char *text = malloc((size_t)size);
  if (!text) return;
  GetLastErrorMsg(-1, text);
  fprintf(stderr, "%s\n", text);
  free(text);
}

/* Runs a command whose reply is text; an empty reply leaves the buffer as it was. */
static int TextCommand(int32_t device, uint32_t code, int32_t argument, char *text, int32_t size) {
  CommandRecord record;
  memset(&record, 0, sizeof record);
  text[0] = '\0';
  record.textBuffer = text;
  record.textLength = size;
  record.argument = argument;
  return DeviceCommand(device, code, &record);
}

static int NumberCommand(int32_t device, uint32_t code, int32_t argument, CommandRecord *record) {
  memset(record, 0, sizeof *record);
  record->argument = argument;
  return DeviceCommand(device, code, record);
}

int main(void) {
  int32_t device = -1, index;
  /* FindDevice appends one device per call until it returns 0; the first will do. */
  while (FindDevice(&index) == 1) {
    if (device < 0) device = index;
  }
  if (device < 0 || Initialise(device) != 1) {
    PrintGeneralMessage();
    CloseAll();
    return 1;
  }

  char text[4096];
  CommandRecord r;
  TextCommand(device, VORN_CMD_PRODUCT_NAME, 0, text, sizeof text);
  printf("product: %s\n", text);
  TextCommand(device, VORN_CMD_SERIAL_TEXT, 0, text, sizeof text);
  printf("serial: %s\n", text);
  if (NumberCommand(device, VORN_CMD_LAST_CHANNEL, 0, &r) != 1 || r.intResult < 1) {
    PrintGeneralMessage();
    CloseAll();
    return 1;
  }
  int32_t last = r.intResult < MAX_CHANNELS ? r.intResult : MAX_CHANNELS - 1;
  float minimum[MAX_CHANNELS], maximum[MAX_CHANNELS];
  char unit[MAX_CHANNELS][32];
  for (int32_t p = 1; p <= last; ++p) {
    TextCommand(device, VORN_CMD_CHANNEL_NAME, p, text, sizeof text);
    TextCommand(device, VORN_CMD_CHANNEL_UNIT, p, unit[p], sizeof unit[p]);
    NumberCommand(device, VORN_CMD_CHANNEL_MINIMUM, p, &r);
    minimum[p] = r.floatResult;
    NumberCommand(device, VORN_CMD_CHANNEL_MAXIMUM, p, &r);
    maximum[p] = r.floatResult;
    printf("channel %d: %s [%s] %g..%g\n", (int)p, text, unit[p], minimum[p], maximum[p]);
    /* Channels start disabled. */
    NumberCommand(device, VORN_CMD_ENABLE_CHANNEL, p, &r);
  }
  /* Periods in microseconds, e.g. "10000,5000,2000"; take the first offered. */
  TextCommand(device, VORN_CMD_PERIOD_LIST, 0, text, sizeof text);
  printf("periods (us): %s\n", text[0] ? text : "(the device's own cycle only)");
  if (text[0]) NumberCommand(device, VORN_CMD_SELECT_PERIOD, atoi(text), &r);

  if (NumberCommand(device, VORN_CMD_START, 0, &r) != 1) {
    fprintf(stderr, "the device did not start\n");
    CloseAll();
    return 1;
  }
  int lines = 0;
  while (lines < 10 && ReadLine(device, text, sizeof text, 3000) == 1) {
    if (strncmp(text, "@ ", 2) != 0) continue;
    /* "@ v1,v2,...": raw 0..32767 per enabled channel, in position order. */
    printf("line %d:", lines + 1);
    char *field = text + 2;
    for (int32_t p = 1; p <= last && *field; ++p) {
      long raw = strtol(field, &field, 10);
      double value = minimum[p] + (double)raw * (maximum[p] - minimum[p]) / 32767.0;
      printf(" %.2f%s%s", value, unit[p][0] ? " " : "", unit[p]);
      if (*field == ',') ++field;
    }
    printf("\n");
    ++lines;
  }
  NumberCommand(device, VORN_CMD_STOP, 0, &r);
  FlushReadBuffer(device); /* lines decoded before the stop */
  CloseAll();
  printf("recorded %d lines\n", lines);
  return lines == 10 ? 0 : 1;
}
