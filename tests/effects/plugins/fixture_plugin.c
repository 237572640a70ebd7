/* Test plugins for the frei0r host, one per VT_KIND:
 *  1 "vt check": a filter that aborts on a frame size or alignment it is not promised and inverts
 *    the picture when its switch is on (and its text does not start with 'k'), writing its
 *    number into alpha;
 *  2 "vt mix": an RGBA mixer2 taking red from the first input and green from the second, with a
 *    parameter whose name is not UTF-8;
 *  3 "vt crash": a filter that crashes on its first frame;
 *  4 a plugin without a name. */
#include <frei0r.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  unsigned w, h;
  double on, amount;
  f0r_param_color_t color;
  f0r_param_position_t where;
  char text[32];
} inst_t;

int f0r_init(void) { return 1; }
void f0r_deinit(void) {}

void f0r_get_plugin_info(f0r_plugin_info_t* i) {
  memset(i, 0, sizeof *i);
  i->author = "Vantrel tests";
  i->frei0r_version = FREI0R_MAJOR_VERSION;
#if VT_KIND == 1
  i->name = "vt check";
  i->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  i->color_model = F0R_COLOR_MODEL_BGRA8888;
  i->num_params = 5;
#elif VT_KIND == 2
  i->name = "vt mix";
  i->plugin_type = F0R_PLUGIN_TYPE_MIXER2;
  i->color_model = F0R_COLOR_MODEL_RGBA8888;
  i->num_params = 1;
#elif VT_KIND == 3
  i->name = "vt crash";
  i->plugin_type = F0R_PLUGIN_TYPE_FILTER;
#else
  i->name = "";
#endif
}

void f0r_get_param_info(f0r_param_info_t* p, int index) {
  static const char* names[] = {"Invert", "Amount", "Tint", "Spot", "Label"};
  static const int types[] = {F0R_PARAM_BOOL, F0R_PARAM_DOUBLE, F0R_PARAM_COLOR, F0R_PARAM_POSITION,
                              F0R_PARAM_STRING};
  /* The mixer's: a Windows-1252 apostrophe, as some plugins have, and a byte no encoding explains.
   */
  p->name = VT_KIND == 2 ? "Mixer\x92s \xff amount" : names[index];
  p->type = VT_KIND == 2 ? F0R_PARAM_DOUBLE : types[index];
  p->explanation = "";
}

f0r_instance_t f0r_construct(unsigned w, unsigned h) {
  /* frei0r's rules, and the host's promise of frames no smaller than 256 a side. */
  if (w < 256 || h < 256 || w % 8 || h % 8 || w > 2048 || h > 2048) abort();
  static const inst_t defaults = {0, 0, 1, 0.25, {1, 0.5f, 0}, {0.1, 0.9}, "abc"};
  inst_t* i = malloc(sizeof *i);
  *i = defaults;
  i->w = w;
  i->h = h;
  return i;
}
void f0r_destruct(f0r_instance_t p) { free(p); }

void f0r_set_param_value(f0r_instance_t p, f0r_param_t v, int index) {
  inst_t* i = p;
  switch (index) {
    case 0: i->on = *(double*)v; break;
    case 1: i->amount = *(double*)v; break;
    case 2: i->color = *(f0r_param_color_t*)v; break;
    case 3: i->where = *(f0r_param_position_t*)v; break;
    default:
      strncpy(i->text, *(char**)v, sizeof i->text - 1);
      i->text[sizeof i->text - 1] = 0;
      break;
  }
}
void f0r_get_param_value(f0r_instance_t p, f0r_param_t v, int index) {
  inst_t* i = p;
  switch (index) {
    case 0: *(double*)v = i->on; break;
    case 1: *(double*)v = i->amount; break;
    case 2: *(f0r_param_color_t*)v = i->color; break;
    case 3: *(f0r_param_position_t*)v = i->where; break;
    default: *(char**)v = i->text; break;
  }
}

static void check(const void* p) {
  if (p && ((uintptr_t)p & 15)) abort();
}

void f0r_update(f0r_instance_t p, double t, const uint32_t* in, uint32_t* out) {
  inst_t* i = p;
  (void)t;
#if VT_KIND == 3
  raise(SIGSEGV);
#endif
  check(in);
  check(out);
  uint32_t alpha = (uint32_t)(i->amount * 255 + 0.5) << 24;
  for (size_t k = 0; k < (size_t)i->w * i->h; ++k)
    out[k] =
        ((i->on >= 0.5 && i->text[0] != 'k' ? in[k] ^ 0x00FFFFFFu : in[k]) & 0x00FFFFFFu) | alpha;
}

void f0r_update2(f0r_instance_t p, double t, const uint32_t* a, const uint32_t* b,
                 const uint32_t* c, uint32_t* out) {
  inst_t* i = p;
  (void)t;
  (void)c;
  check(a);
  check(b);
  check(out);
  for (size_t k = 0; k < (size_t)i->w * i->h; ++k)
    out[k] = (a[k] & 0xFFu) | (b[k] & 0xFF00u) | 0xFF000000u;
}
