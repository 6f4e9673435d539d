// Small routines the game library shares: the two cosine tables, point distance and
// direction, centres, the screen test, the frame-rate averages and the collide list.
#pragma once

#include <cstdint>

struct Sprite;

constexpr int32_t kCosine256Size = 256;
constexpr int32_t kCosineDegreeSize = 361;
constexpr double kDegreesPerRadian = 57.29577951307855;
constexpr double kTwoPi = 6.28318530718;

extern double cos256_table[kCosine256Size];
extern double cos_degree_table[kCosineDegreeSize];

// Fill the tables; start-up runs both once before any script.
void build_cosine_table_256();
void build_cosine_table_degrees();

// Mode 8: the straight-line distance; any other mode the city-block distance.
double point_distance(double x1, double y1, double x2, double y2, int32_t mode);
// The direction from point 1 to point 2, 0 along +x growing towards +y, in radians or
// (with the flag) degrees. Axis directions in degrees are exactly 0, 90, 180 and 270.
double point_angle(double x1, double y1, double x2, double y2, int32_t degrees);

struct IntPoint {
  int32_t x;
  int32_t y;
};
IntPoint sprite_centre(const Sprite* sprite);
IntPoint rect_centre(int32_t left, int32_t top, int32_t right, int32_t bottom);
// Whether the rectangle meets the game screen (0, 0, screen width, screen height).
bool rect_intersects_screen(int32_t left, int32_t top, int32_t right, int32_t bottom);

// The truncated single-precision mean of the samples in a ring; 0 for an empty ring.
int32_t average_fps_samples();
int32_t average_step_samples();

// Pushes the hash of every comma-separated item of the sprite's collide string (trimmed,
// lower-cased) at the front of its collide list, so the list holds them last first.
void parse_collide_string(Sprite* sprite);
void collide_hash_push(Sprite* sprite, uint32_t hash);
void collide_hashes_free(Sprite* sprite);
// Whether the sprite's collide list holds the hash.
bool collide_list_holds(const Sprite* sprite, uint32_t hash);
