// The GL device's shader programs: one per state combination that changes code (vertex format,
// lighting, the enabled lights' kinds, the material sources, the stages' operations and arguments,
// textures present or not), built from the sources in gl_shaders.cpp with a prologue of #defines, and
// kept for the device's life.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/gl_device.h"

static bool argumentIsTexture(uint8_t argument) { return (argument & 15) == D3DTA_TEXTURE; }
static bool usesArgument1(uint8_t op) { return op != D3DTOP_SELECTARG2; }
static bool usesArgument2(uint8_t op) { return op != D3DTOP_SELECTARG1; }
static bool opUsesTexture(uint8_t op, uint8_t argument1, uint8_t argument2) {
  return op == 13 || (usesArgument1(op) && argumentIsTexture(argument1)) ||
         (usesArgument2(op) && argumentIsTexture(argument2));
}
static bool opUsesSpecular(uint8_t op, uint8_t argument1, uint8_t argument2) {
  return (usesArgument1(op) && (argument1 & 15) == D3DTA_SPECULAR) ||
         (usesArgument2(op) && (argument2 & 15) == D3DTA_SPECULAR);
}

// A stage's operations and arguments as its program reads them, for a stage that is not disabled.
static void makeStageKey(const DWORD* values, bool has_texture, StageKey* stage) {
  stage->colour_op = uint8_t(values[D3DTSS_COLOROP]);
  stage->colour_arg1 = uint8_t(values[D3DTSS_COLORARG1] & 0x3F);
  stage->colour_arg2 = uint8_t(values[D3DTSS_COLORARG2] & 0x3F);
  stage->alpha_op = uint8_t(values[D3DTSS_ALPHAOP]);
  if (stage->alpha_op == 0) stage->alpha_op = D3DTOP_DISABLE;
  stage->alpha_arg1 = uint8_t(values[D3DTSS_ALPHAARG1] & 0x3F);
  stage->alpha_arg2 = uint8_t(values[D3DTSS_ALPHAARG2] & 0x3F);
  bool alpha = stage->alpha_op != D3DTOP_DISABLE;
  // An operation reading a texture that is not there passes the current colour (or alpha) through.
  if (!has_texture && opUsesTexture(stage->colour_op, stage->colour_arg1, stage->colour_arg2)) {
    stage->colour_op = D3DTOP_SELECTARG1;
    stage->colour_arg1 = D3DTA_CURRENT;
  }
  if (!has_texture && alpha && opUsesTexture(stage->alpha_op, stage->alpha_arg1, stage->alpha_arg2)) {
    stage->alpha_op = D3DTOP_SELECTARG1;
    stage->alpha_arg1 = D3DTA_CURRENT;
  }
  // Arguments an operation does not read do not make another program.
  if (!usesArgument1(stage->colour_op)) stage->colour_arg1 = 0;
  if (!usesArgument2(stage->colour_op)) stage->colour_arg2 = 0;
  if (!alpha || !usesArgument1(stage->alpha_op)) stage->alpha_arg1 = 0;
  if (!alpha || !usesArgument2(stage->alpha_op)) stage->alpha_arg2 = 0;
  bool samples = opUsesTexture(stage->colour_op, stage->colour_arg1, stage->colour_arg2) ||
                 (alpha && opUsesTexture(stage->alpha_op, stage->alpha_arg1, stage->alpha_arg2));
  stage->texture = samples;
  stage->uv_set = samples && (values[D3DTSS_TEXCOORDINDEX] & 0xFFFF) != 0 ? 1 : 0;
  if (samples)
    stage->border = uint8_t((values[D3DTSS_ADDRESSU] == D3DTADDRESS_BORDER ? 1 : 0) |
                            (values[D3DTSS_ADDRESSV] == D3DTADDRESS_BORDER ? 2 : 0));
}

static bool stageUsesSpecular(const StageKey& stage) {
  return opUsesSpecular(stage.colour_op, stage.colour_arg1, stage.colour_arg2) ||
         (stage.alpha_op != D3DTOP_DISABLE && opUsesSpecular(stage.alpha_op, stage.alpha_arg1, stage.alpha_arg2));
}

// The enabled lights' kinds in index order, and where the material colours come from.
void GlDevice::makeLightingKey(int kind, ProgramKey* key) {
  key->normalise = state.render[D3DRENDERSTATE_NORMALIZENORMALS] != FALSE;
  for (DWORD i = 0; i < kMaxLights; ++i) {
    if (!state.light_enabled[i]) continue;
    DWORD type = state.light[i].dltType;
    key->light_type[key->light_count++] =
        uint8_t(type == D3DLIGHT_SPOT || type == D3DLIGHT_DIRECTIONAL ? type : D3DLIGHT_POINT);
  }
  // Material colours may come from the vertex's own colours, when it has them.
  if (kind != kColouredVertex || !state.render[D3DRENDERSTATE_COLORVERTEX]) return;
  const D3DRENDERSTATETYPE sources[4] = {D3DRENDERSTATE_DIFFUSEMATERIALSOURCE, D3DRENDERSTATE_AMBIENTMATERIALSOURCE,
                                         D3DRENDERSTATE_SPECULARMATERIALSOURCE, D3DRENDERSTATE_EMISSIVEMATERIALSOURCE};
  for (int i = 0; i < 4; ++i) {
    DWORD source = state.render[sources[i]];
    key->material_source[i] = uint8_t(source == D3DMCS_COLOR1 || source == D3DMCS_COLOR2 ? source : 0);
  }
}

void GlDevice::makeProgramKey(int kind, ProgramKey* key) {
  std::memset(key, 0, sizeof(*key));
  key->vertex_kind = uint8_t(kind);
  bool lit = kind != kScreenVertex && state.render[D3DRENDERSTATE_LIGHTING] != FALSE;
  key->lighting = lit;
  if (lit) makeLightingKey(kind, key);
  bool uses_specular = false;
  for (int s = 0; s < 2; ++s) {
    uint8_t colour_op = uint8_t(state.stage[s][D3DTSS_COLOROP]);
    if (colour_op == D3DTOP_DISABLE || colour_op == 0) {
      // Disabling a stage ends the cascade; later stages are ignored, alpha included.
      key->stage[s].colour_op = D3DTOP_DISABLE;
      if (s == 0) key->stage[1].colour_op = D3DTOP_DISABLE;
      break;
    }
    makeStageKey(state.stage[s], surfaceOf(s) != nullptr, &key->stage[s]);
    uses_specular = uses_specular || stageUsesSpecular(key->stage[s]);
  }
  key->specular_add = state.render[D3DRENDERSTATE_SPECULARENABLE] != FALSE;
  key->specular_lit = lit && (key->specular_add || uses_specular);
}

typedef void (*GlGetStatus)(GLuint object, GLenum name, GLint* value);
typedef void (*GlGetLog)(GLuint object, GLsizei size, GLsizei* length, GLchar* log);

// Whether a shader compiled or a program linked (`status`); if not, the driver's log on standard error
// after `failure`.
static bool built(GLuint object, GLenum status, GlGetStatus get_status, GlGetLog get_log, const char* failure) {
  GLint ok = 0;
  get_status(object, status, &ok);
  if (ok) return true;
  char log[2048] = {};
  get_log(object, sizeof(log), nullptr, log);
  std::fprintf(stderr, "narvu: %s: %s\n", failure, log);
  return false;
}

static GLuint compileShader(GLenum type, const std::string& source) {
  GLuint shader = glCreateShader(type);
  const char* text = source.c_str();
  glShaderSource(shader, 1, &text, nullptr);
  glCompileShader(shader);
  return shader;
}

// Why a program did not link: the log of a shader that did not compile, or the program's own.
static void reportBuildFailure(GLuint program, GLuint vertex, GLuint fragment) {
  if (!built(vertex, GL_COMPILE_STATUS, glGetShaderiv, glGetShaderInfoLog,
             "a vertex shader of the GL device does not compile") ||
      !built(fragment, GL_COMPILE_STATUS, glGetShaderiv, glGetShaderInfoLog,
             "a fragment shader of the GL device does not compile"))
    return;
  built(program, GL_LINK_STATUS, glGetProgramiv, glGetProgramInfoLog, "a program of the GL device does not link");
}

// The #defines that make the shader sources into the program of one state combination.
static std::string programPrologue(const ProgramKey& key) {
  // Everything at full precision in ES too, as the desktop computes it; the uniform block must be
  // declared alike in both stages, which one default precision for both ensures.
  std::string prologue =
      kGlEs ? "#version 300 es\nprecision highp float;\nprecision highp int;\n" : "#version 330 core\n";
  auto define = [&prologue](const char* name, int value) {
    prologue += std::string("#define ") + name + " " + std::to_string(value) + "\n";
  };
  define("VERTEX_KIND", key.vertex_kind);
  define("LIGHTING", key.lighting);

  define("NORMALISE", key.normalise);
  prologue += "#define LIGHTS";
  for (int i = 0; i < key.light_count; ++i)
    prologue += " ADD_LIGHT(" + std::to_string(i) + ", " + std::to_string(key.light_type[i]) + ")";
  prologue += "\n";
  define("SPECULAR_LIT", key.specular_lit);
  define("SPECULAR_ADD", key.specular_add);
  define("DIFFUSE_SOURCE", key.material_source[0]);
  define("AMBIENT_SOURCE", key.material_source[1]);
  define("SPECULAR_SOURCE", key.material_source[2]);
  define("EMISSIVE_SOURCE", key.material_source[3]);
  for (int s = 0; s < 2; ++s) {
    const StageKey& stage = key.stage[s];
    std::string p = "S" + std::to_string(s) + "_";
    define((p + "COP").c_str(), stage.colour_op);
    define((p + "CA1").c_str(), stage.colour_arg1);
    define((p + "CA2").c_str(), stage.colour_arg2);
    define((p + "AOP").c_str(), stage.alpha_op);
    define((p + "AA1").c_str(), stage.alpha_arg1);
    define((p + "AA2").c_str(), stage.alpha_arg2);
    define((p + "TEX").c_str(), stage.texture);
    define((p + "BORDER").c_str(), stage.border);
    prologue += "#define " + p + "UV " + (stage.uv_set ? "v_uv1" : "v_uv0") + "\n";
  }
  return prologue;
}

// Only the link's result is asked for: in the page every such question waits for the browser's GPU
// process to catch up, and a shader that did not compile makes the link fail too.
GLuint GlDevice::buildProgram(const ProgramKey& key) {
  std::string prologue = programPrologue(key);
  GLuint vertex = compileShader(GL_VERTEX_SHADER, prologue + kGlDeviceBlockSource + kGlVertexShaderSource);
  GLuint fragment = compileShader(GL_FRAGMENT_SHADER, prologue + kGlDeviceBlockSource + kGlFragmentShaderSource);
  GLuint name = glCreateProgram();
  glAttachShader(name, vertex);
  glAttachShader(name, fragment);
  glLinkProgram(name);
  GLint linked = 0;
  glGetProgramiv(name, GL_LINK_STATUS, &linked);
  if (!linked) reportBuildFailure(name, vertex, fragment);
  glDeleteShader(vertex);
  glDeleteShader(fragment);
  if (!linked) {
    glDeleteProgram(name);
    return 0;
  }
  glUniformBlockBinding(name, glGetUniformBlockIndex(name, "DeviceBlock"), 0);
  glUseProgram(name);
  glUniform1i(glGetUniformLocation(name, "stage_texture0"), 0);
  glUniform1i(glGetUniformLocation(name, "stage_texture1"), 1);
  gl.program = name;
  ++counters.program_builds;
  checkGlErrors("program build");
  return name;
}

GLuint GlDevice::program(const ProgramKey& key) {
  if (last_program < programs.size() && std::memcmp(&programs[last_program].key, &key, sizeof(key)) == 0)
    return programs[last_program].name;
  for (size_t i = 0; i < programs.size(); ++i)
    if (std::memcmp(&programs[i].key, &key, sizeof(key)) == 0) {
      last_program = i;
      return programs[i].name;
    }
  GLuint name = buildProgram(key);
  if (name == 0) return 0;
  programs.push_back({key, name, state});
  last_program = programs.size() - 1;
  return name;
}

// The first draw of each program is repeated, program build and all, as a draw of no area in that
// draw's state: the driver's code for it is then generated for the very state it first served (and
// found in the driver's shader cache exactly when the first time found it there).
int GlDevice::rebuildPrograms() {
  GlDeviceCounters kept_counters = counters;
  DeviceState kept_state = state;
  std::vector<Program> kept;
  kept.swap(programs);
  const uint8_t origin[40] = {};
  for (const Program& existing : kept) {
    state = existing.first_use;
    if (applyState(existing.key.vertex_kind)) drawNoArea(existing.key.vertex_kind, origin);
  }
  int rebuilt = int(programs.size());
  for (const Program& built : programs) glDeleteProgram(built.name);
  programs.swap(kept);
  last_program = 0;
  state = kept_state;
  counters = kept_counters;
  // GL's program is no longer one the shadow knows: the next draw sets it.
  glUseProgram(0);
  gl.program = ~GLuint(0);
  checkGlErrors("program rebuild");
  return rebuilt;
}
