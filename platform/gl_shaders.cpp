// The GL device's one shader family: Direct3D 7's transform, lighting and two texture stages.
//
// The device builds one program per state combination that changes code (vertex format, lighting on or
// off, the enabled lights' kinds, the stages' operations and arguments, texture present or not) by
// putting #defines in front of these sources; everything else (matrices, lights, material, colours)
// lives in one uniform block shared by every program, so switching programs never re-sends values.
//
// Prologue names (all integers):
//   VERTEX_KIND          0: x y z, normal, two coordinate pairs (0x212); 1: screen pixels with rhw,
//                        diffuse, specular, one pair (0x1C4); 2: x y z, diffuse, specular, one pair (0x1E2)
//   LIGHTING             1: light the vertex; 0: its own colours pass through
//   NORMALISE            1: normalise the transformed normal (NORMALIZENORMALS)
//   LIGHTS               ADD_LIGHT(index, kind) for each enabled light, packed in index order (kind 1 point,
//                        2 spot, 3 directional); empty without lights
//   SPECULAR_LIT         1: compute the lit specular colour
//   DIFFUSE_SOURCE, AMBIENT_SOURCE, SPECULAR_SOURCE, EMISSIVE_SOURCE
//                        0: the material; 1: the vertex diffuse colour; 2: the vertex specular colour
//   Sn_COP, Sn_CA1, Sn_CA2, Sn_AOP, Sn_AA1, Sn_AA2   stage n's operations and arguments (D3DTOP_, D3DTA_)
//   Sn_TEX               1: stage n samples its texture; Sn_UV the coordinate pair it reads
//   Sn_BORDER            1: u, 2: v, 3: both are addressed with the border colour
//   SPECULAR_ADD         1: add the specular colour after the last stage
#include "platform/platform_local.h"

const char* const kGlDeviceBlockSource = R"(
struct Light {
  vec4 diffuse;
  vec4 specular;
  vec4 ambient;
  vec4 position_range;  // camera space; w: range
  vec4 direction;       // directional: unit vector toward the light; spot: unit spot direction (camera space)
  vec4 attenuation;     // a0, a1, a2
  vec4 spot;            // cos(theta / 2), cos(phi / 2), falloff
};
layout(std140) uniform DeviceBlock {
  mat4 world_view;
  mat4 world_view_projection;
  mat4 normal_matrix;  // transpose of the inverse of world_view
  vec4 material_diffuse;
  vec4 material_ambient;
  vec4 material_specular;
  vec4 material_emissive;
  vec4 material_power;  // x
  vec4 ambient_light;
  vec4 texture_factor;
  vec4 pixel_offset;    // xy: 63/64 of a pixel of the viewport, in normalised device units
  Light lights[8];
};
)";

const char* const kGlVertexShaderSource = R"(
layout(location = 0) in vec4 in_position;
layout(location = 1) in vec3 in_normal;
layout(location = 2) in vec4 in_diffuse;
layout(location = 3) in vec4 in_specular;
layout(location = 4) in vec2 in_uv0;
layout(location = 5) in vec2 in_uv1;

out vec4 v_diffuse;
out vec4 v_specular;
out vec2 v_uv0;
out vec2 v_uv1;

vec4 materialColour(int source, vec4 material, vec4 vertex_diffuse, vec4 vertex_specular) {
  return source == 1 ? vertex_diffuse : source == 2 ? vertex_specular : material;
}

#if LIGHTING
// One light's share, added to the sums. Called once per enabled light with its index and kind as
// constants rather than from a loop: SwiftShader (the page's software rasteriser) ran the loop's
// uniform reads and kinds as they came, per vertex, at a quarter of the page's frame time.
void addLight(int i, int type, vec3 p, vec3 n, vec3 to_eye, inout vec3 diffuse_sum, inout vec3 ambient_sum,
              inout vec3 specular_sum) {
  vec3 l;
  float strength = 1.0;
  if (type == 3) {
    l = lights[i].direction.xyz;
  } else {
    vec3 to_light = lights[i].position_range.xyz - p;
    float d = length(to_light);
    if (d > lights[i].position_range.w) return;  // out of range: not even its ambient counts
    l = d > 0.0 ? to_light / d : vec3(0.0);
    strength = 1.0 / max(dot(lights[i].attenuation.xyz, vec3(1.0, d, d * d)), 1e-30);
    if (type == 2) {
      float rho = dot(lights[i].direction.xyz, -l);
      float cos_inner = lights[i].spot.x;
      float cos_outer = lights[i].spot.y;
      if (rho <= cos_outer) {
        strength = 0.0;
      } else if (rho <= cos_inner) {
        strength *= pow((rho - cos_outer) / (cos_inner - cos_outer), lights[i].spot.z);
      }
    }
  }
  ambient_sum += lights[i].ambient.rgb * strength;
  float n_dot_l = dot(n, l);
  if (n_dot_l > 0.0) {
    diffuse_sum += lights[i].diffuse.rgb * (n_dot_l * strength);
#if SPECULAR_LIT
    vec3 h = normalize(l + to_eye);
    float n_dot_h = max(dot(n, h), 0.0);
    float power = material_power.x;
    specular_sum += lights[i].specular.rgb * ((power > 0.0 ? pow(n_dot_h, power) : 1.0) * strength);
#endif
  }
}
#endif

void main() {
  // Colours come as Direct3D stores them, B, G, R, A: OpenGL ES reads no other order than R, G, B, A.
  vec4 vertex_diffuse = in_diffuse.bgra;
  vec4 vertex_specular = in_specular.bgra;
  v_uv0 = in_uv0;
  v_uv1 = in_uv1;
#if VERTEX_KIND == 1
  // Direct3D samples pixels at integer coordinates, GL at their centres: hence the pixel offset.
  float w = in_position.w > 0.0 ? 1.0 / in_position.w : 1.0;
  gl_Position = vec4(in_position.x / 320.0 - 1.0 + pixel_offset.x, 1.0 - in_position.y / 240.0 - pixel_offset.y,
                     2.0 * in_position.z - 1.0, 1.0) * w;
  v_diffuse = vertex_diffuse;
  v_specular = vertex_specular;
#else
  vec4 clip = world_view_projection * vec4(in_position.xyz, 1.0);
  // Direct3D clips depth to 0..w, GL to -w..w.
  gl_Position = vec4(clip.x + pixel_offset.x * clip.w, clip.y - pixel_offset.y * clip.w, 2.0 * clip.z - clip.w,
                     clip.w);
#if LIGHTING
  vec3 p = (world_view * vec4(in_position.xyz, 1.0)).xyz;
  // Not normalised unless NORMALIZENORMALS asks (it is off by default): a scaling world matrix changes
  // the brightness.
  vec3 n = mat3(normal_matrix) * in_normal;
#if NORMALISE
  if (length(n) > 0.0) n = normalize(n);
#endif
  vec3 to_eye = length(p) > 0.0 ? normalize(-p) : vec3(0.0);
  vec3 diffuse_sum = vec3(0.0);
  vec3 ambient_sum = vec3(0.0);
  vec3 specular_sum = vec3(0.0);
#define ADD_LIGHT(index, type) addLight(index, type, p, n, to_eye, diffuse_sum, ambient_sum, specular_sum);
  LIGHTS
  vec4 md = materialColour(DIFFUSE_SOURCE, material_diffuse, vertex_diffuse, vertex_specular);
  vec4 ma = materialColour(AMBIENT_SOURCE, material_ambient, vertex_diffuse, vertex_specular);
  vec4 ms = materialColour(SPECULAR_SOURCE, material_specular, vertex_diffuse, vertex_specular);
  vec4 me = materialColour(EMISSIVE_SOURCE, material_emissive, vertex_diffuse, vertex_specular);
  v_diffuse = clamp(vec4(me.rgb + ma.rgb * (ambient_light.rgb + ambient_sum) + md.rgb * diffuse_sum, md.a), 0.0,
                    1.0);
  v_specular = clamp(vec4(ms.rgb * specular_sum, 1.0), 0.0, 1.0);
#else
  v_diffuse = vertex_diffuse;  // a format without colours reads the attribute's constant white
  v_specular = vertex_specular;
#endif
#endif
}
)";

const char* const kGlFragmentShaderSource = R"(
in vec4 v_diffuse;
in vec4 v_specular;
in vec2 v_uv0;
in vec2 v_uv1;
uniform sampler2D stage_texture0;
uniform sampler2D stage_texture1;
layout(location = 0) out vec4 frag_colour;

// Multisampling evaluates coordinates at sample positions outside a triangle, where a surface seen edge-on
// extrapolates to infinities or NaN; llvmpipe's anisotropic filtering of such a footprint took minutes a
// frame (and more) before the coordinates were kept finite. NaN is told by its bits: GLSL ES lets
// isnan() answer false, and a compiler may fold comparisons with NaN away.
vec2 finite(vec2 uv) {
  uvec2 magnitude = floatBitsToUint(uv) & uvec2(0x7FFFFFFFu);
  uv = mix(uv, vec2(0.0), greaterThan(magnitude, uvec2(0x7F800000u)));
  return clamp(uv, vec2(-65536.0), vec2(65536.0));
}

vec4 argument(int code, vec4 current, vec4 texel) {
  int source = code & 15;
  vec4 value = source == 0 ? v_diffuse
             : source == 1 ? current
             : source == 2 ? texel
             : source == 3 ? texture_factor
             : v_specular;
  if ((code & 32) != 0) value = value.aaaa;         // alpha replicate
  if ((code & 16) != 0) value = vec4(1.0) - value;  // complement
  return value;
}

vec4 operation(int op, vec4 a1, vec4 a2, vec4 current, vec4 texel) {
  if (op == 2) return a1;
  if (op == 3) return a2;
  if (op == 4) return a1 * a2;
  if (op == 5) return 2.0 * a1 * a2;
  if (op == 6) return 4.0 * a1 * a2;
  if (op == 7) return a1 + a2;
  if (op == 8) return a1 + a2 - 0.5;
  if (op == 9) return 2.0 * (a1 + a2 - 0.5);
  if (op == 10) return a1 - a2;
  if (op == 11) return a1 + a2 - a1 * a2;
  if (op == 12) return mix(a2, a1, v_diffuse.a);
  if (op == 13) return mix(a2, a1, texel.a);
  if (op == 14) return mix(a2, a1, texture_factor.a);
  if (op == 16) return mix(a2, a1, current.a);
  return current;
}

// Colour and alpha each from their own operation; an alpha operation of DISABLE keeps the alpha so far.
vec4 stage(int cop, int ca1, int ca2, int aop, int aa1, int aa2, vec4 current, vec4 texel) {
  vec3 colour = operation(cop, argument(ca1, current, texel), argument(ca2, current, texel), current, texel).rgb;
  float alpha = aop == 1 ? current.a
                         : operation(aop, argument(aa1, current, texel), argument(aa2, current, texel), current,
                                     texel).a;
  return clamp(vec4(colour, alpha), 0.0, 1.0);
}

// A stage's texel; a stage that reads no texture gets white, which no operation then reads. Outside the
// texture along a direction addressed with the border, the border colour: Direct3D's default,
// transparent black (GL ES has no border, so the sampler clamps to the edge and the texel is replaced).
// The texture is sampled either way, so that its level is chosen from neighbours that all sampled it.
vec4 texelOf(sampler2D sampler, bool sampled, vec2 uv, int border) {
  if (!sampled) return vec4(1.0);
  uv = finite(uv);
  vec4 texel = texture(sampler, uv);
  bvec2 outside = bvec2(uv.x < 0.0 || uv.x > 1.0, uv.y < 0.0 || uv.y > 1.0);
  bool on_border = ((border & 1) != 0 && outside.x) || ((border & 2) != 0 && outside.y);
  return on_border ? vec4(0.0) : texel;
}

void main() {
  vec4 current = v_diffuse;
#if S0_COP != 1
  current = stage(S0_COP, S0_CA1, S0_CA2, S0_AOP, S0_AA1, S0_AA2, current,
                  texelOf(stage_texture0, S0_TEX != 0, S0_UV, S0_BORDER));
#if S1_COP != 1
  current = stage(S1_COP, S1_CA1, S1_CA2, S1_AOP, S1_AA1, S1_AA2, current,
                  texelOf(stage_texture1, S1_TEX != 0, S1_UV, S1_BORDER));
#endif
#endif
#if SPECULAR_ADD
  current.rgb = min(current.rgb + v_specular.rgb, vec3(1.0));
#endif
  frag_colour = current;
}
)";
