// mapaccel.h: lookup aids kept beside a MapTable, so that clustered keys
// (small integers first) cost about what spread keys cost.  They answer
// the questions the probe walks answer, with the same answers; see
// mapaccel.cpp for what each one means and why the result cannot differ.
#ifndef NUMHASH_MAPACCEL_H
#define NUMHASH_MAPACCEL_H

#include <stdint.h>

#include "maprecord.h"

/* A table walks by the plain rules alone: nothing is built or trusted. */
constexpr uint32_t MAPACCEL_PLAIN = UINT32_MAX;

/* Probe steps walked before the aids take over (0: none); the share of far
** keys, one in allshare, from which a table indexes every key (0: never);
** and how many steps past the hand-over are walked, in sixteenths of the
** capacity, before the bit trees are built.  Tables take them when next rebuilt or emptied;
** tests use small values to send every walk through the aids, and
** MAPACCEL_PLAIN for the plain rules. */
struct MapAccelTuning {
  uint32_t farsteps;
  uint32_t allshare;
  uint32_t treewalks;
};
void mapaccel_tune(MapAccelTuning tuning);
MapAccelTuning mapaccel_tuning(void);

/* Lookups, called at step farsteps of a walk (a find, when `all` is set,
** at its start). */
uint32_t mapaccel_find_far(const MapTable *t, double key);
uint32_t mapaccel_next_empty(MapAccel *a, const uint32_t *flags, uint32_t capacity,
                             uint32_t bucket, uint32_t *step);
uint32_t mapaccel_last_deleted(MapTable *t, uint32_t bucket, uint32_t step, uint32_t from,
                               uint32_t *sitestep);

/* Upkeep after the table's flags change. */
void mapaccel_note_claim(MapTable *t, uint32_t bucket, uint32_t step, double key);
void mapaccel_note_erase(MapTable *t, uint32_t bucket);
void mapaccel_note_placed(MapAccel *a, const uint32_t *flags, uint32_t bucket, uint32_t step,
                          double key);
void mapaccel_rebuilding(MapAccel *a, uint32_t capacity, uint32_t limit);
void mapaccel_rebuilt(MapTable *t);
void mapaccel_drop(MapAccel *a);

/* For tests: whether the trees kept are exactly what the flag array gives
** now, on the path from bucket's flag word up, or everywhere for
** MAPTABLE_ABSENT (which reads every flag word). */
bool mapaccel_trees_exact(const MapTable *t, uint32_t bucket = MAPTABLE_ABSENT);

#endif
