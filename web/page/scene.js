// Gauges drawn by this device. skyvane-web sends each gauge's scene once (its nodes in drawing order, their
// matrices, materials and shapes, made by the panel's own engine) and then, every tick, only what changed;
// this file keeps those scenes and draws them with WebGL (2, or 1 where that is all there is) in one context
// for every tile, reading each picture back into its tile's canvas. A tile is drawn again only where its
// gauge changed, with the nodes that reach that part, and consecutive batches of one state by one call: in a
// software renderer the calls and triangles cost, the pixels hardly. WebGL 2 multisamples in a framebuffer of
// its own, so that a page falling behind can draw its moving tiles as drafts without (app.js decides). The wire
// format is described in web/SceneStreamer.h. Drawing follows the engine's frame: lighting on without any light
// (a surface shows its emission plus its ambient colour times the light model's ambient), depth test LEQUAL,
// back faces culled where the material says, lines unlit, as wide as asked, smoothed where asked.
'use strict';

const SceneDrawing = (() => {
  const SCENE_KIND = 2;
  const DELTA_KIND = 3;
  const CATCH_UP_KIND = 4;
  const FONT_KIND = 5;

  // Row-vector matrices as the engine keeps them (p' = p · M, 16 numbers row by row), which is also the
  // column-major array WebGL takes for column vectors.
  function multiply(a, b) {
    const r = new Float64Array(16);
    for (let i = 0; i < 4; i++) {
      for (let j = 0; j < 4; j++) {
        r[i * 4 + j] = a[i * 4] * b[j] + a[i * 4 + 1] * b[4 + j] + a[i * 4 + 2] * b[8 + j] + a[i * 4 + 3] * b[12 + j];
      }
    }
    return r;
  }

  // The camera's projection for a square picture of `size` pixels, as the engine makes it at 96 dpi: the
  // framing does not depend on the size, the near plane does.
  function projection(camera, size) {
    const sceneScale = size / 400;
    const q = camera.style === 1 ? 100 * camera.bias / (size * camera.focal * sceneScale)
      : camera.bias / (size * sceneScale);
    const r = size * q / 2;
    const n = camera.focal * 2 * 96 / (25.4 * size) * camera.bias;
    const f = n + camera.depthOfView;
    const m = new Float64Array(16);
    if (camera.style === 1) {
      m[0] = 1 / r; m[5] = 1 / r; m[10] = -2 / (f - n); m[14] = -(f + n) / (f - n); m[15] = 1;
    } else {
      m[0] = n / r; m[5] = n / r; m[10] = -(f + n) / (f - n); m[11] = -1; m[14] = -2 * f * n / (f - n);
    }
    return m;
  }

  // A batch's box in its node's frame: [x0, y0, z0, x1, y1, z1], or null without vertices.
  function boundsOf(batch) {
    if (batch.bounds !== undefined) return batch.bounds;
    const p = batch.positions;
    let box = null;
    for (let i = 0; i < p.length; i += 3) {
      if (!box) box = [p[i], p[i + 1], p[i + 2], p[i], p[i + 1], p[i + 2]];
      for (let c = 0; c < 3; c++) {
        box[c] = Math.min(box[c], p[i + c]);
        box[c + 3] = Math.max(box[c + 3], p[i + c]);
      }
    }
    batch.bounds = box;
    return box;
  }

  // Pixel rectangles [x0, y0, x1, y1] of the GL canvas (y up), end-exclusive; null is none.
  function union(a, b) {
    if (!a) return b;
    if (!b) return a;
    return [Math.min(a[0], b[0]), Math.min(a[1], b[1]), Math.max(a[2], b[2]), Math.max(a[3], b[3])];
  }

  function overlaps(a, b) {
    return !!a && !!b && a[0] < b[2] && b[0] < a[2] && a[1] < b[3] && b[1] < a[3];
  }

  function sameMatrix(a, b) {
    for (let i = 0; i < 16; i++) if (a[i] !== b[i]) return false;
    return true;
  }

  // Reads the little-endian messages; a message that ends early throws (DataView's RangeError).
  class Reader {
    constructor(buffer, at) { this.view = new DataView(buffer); this.buffer = buffer; this.at = at; }
    u8() { return this.view.getUint8(this.at++); }
    u16() { const v = this.view.getUint16(this.at, true); this.at += 2; return v; }
    u32() { const v = this.view.getUint32(this.at, true); this.at += 4; return v; }
    f32() { const v = this.view.getFloat32(this.at, true); this.at += 4; return v; }
    floats(n) {
      const out = new Float32Array(n);
      for (let i = 0; i < n; i++) out[i] = this.f32();
      return out;
    }
    bytes(n) {
      if (this.at + n > this.buffer.byteLength) throw new RangeError('short message');
      const out = new Uint8Array(this.buffer.slice(this.at, this.at + n));
      this.at += n;
      return out;
    }
    pad() { this.at = (this.at + 3) & ~3; }
  }

  function readMatrix(r) {
    const m = new Float64Array(16);
    for (let row = 0; row < 4; row++) {
      m[row * 4] = r.f32(); m[row * 4 + 1] = r.f32(); m[row * 4 + 2] = r.f32();
    }
    m[15] = 1;
    return m;
  }

  function readMaterial(r) {
    const emission = r.floats(4);
    const ambient = r.floats(4);
    const diffuse = r.floats(4);
    const cull = r.u8() !== 0;
    r.pad();
    return { emission, ambient, diffuse, cull };
  }

  // A run of a font's glyphs (a text): its font, its codes and the frame its pen starts from; drawn from the
  // font's glyphs once the font has come (expandRun).
  function readRun(r) {
    const flags = r.u8();
    r.u16();
    r.f32();
    const count = r.u32();
    const font = r.u32();
    const frame = readMatrix(r);
    const codes = r.bytes(count);
    r.pad();
    return { run: true, depthWrite: (flags & 1) !== 0, font, frame, codes, expanded: null };
  }

  function readBatch(r) {
    const kind = r.u8();
    if (kind === 2) return readRun(r);
    if (kind > 2) throw new RangeError('a batch of an unknown kind');
    const lines = kind === 1;
    const flags = r.u8();
    const pattern = r.u16();
    const width = r.f32();
    const count = r.u32();
    const indexCount = r.u32();
    if (!lines) r.at += (flags & 2) ? 12 : count * 12;  // normals: no light shines on them
    const positions = new Float32Array(count * 3);
    if (flags & 4) {
      const z = r.f32();
      for (let i = 0; i < count; i++) {
        positions[i * 3] = r.f32(); positions[i * 3 + 1] = r.f32(); positions[i * 3 + 2] = z;
      }
    } else {
      for (let i = 0; i < count * 3; i++) positions[i] = r.f32();
    }
    const colors = lines ? r.bytes(count * 4) : null;
    const indices = new Uint32Array(indexCount);
    for (let i = 0; i < indexCount; i++) indices[i] = (flags & 8) ? r.u32() : r.u16();
    r.pad();
    for (const index of indices) {
      if (index >= count) throw new RangeError('an index beyond the vertices');
    }
    return {
      lines, depthWrite: (flags & 1) !== 0, smooth: lines && (flags & 2) !== 0, pattern, width, positions,
      colors, indices,
    };
  }

  function readShape(r, count) {
    const batches = [];
    for (let i = 0; i < count; i++) batches.push(readBatch(r));
    return batches;
  }

  // A FONT message's glyphs: code → the pen's advance and the glyph's batches in its own frame.
  function readFont(r, count) {
    const glyphs = new Map();
    for (let i = 0; i < count; i++) {
      const code = r.u8();
      const batches = r.u8();
      r.u16();
      const advance = [r.f32(), r.f32()];
      glyphs.set(code, { advance, batches: readShape(r, batches) });
    }
    return glyphs;
  }

  // The run's glyphs as triangles and segments in the node's frame, each glyph from the pen (which starts at
  // the run's origin and moves on by each glyph's advance), consecutive surfaces of one state in one batch.
  function expandRun(run, glyphs) {
    const m = run.frame;
    const groups = [];  // batches being gathered: positions and indices as plain arrays until the end
    let penX = 0;
    let penY = 0;
    for (const code of run.codes) {
      const glyph = glyphs.get(code);
      if (!glyph) continue;  // outside the font: nothing drawn, the pen stays
      for (const b of glyph.batches) {
        const last = groups[groups.length - 1];
        const group = last && !b.lines && !last.batch.lines && last.batch.depthWrite === b.depthWrite ? last
          : groups[groups.push({ batch: b, positions: [], indices: [] }) - 1];
        const base = group.positions.length / 3;
        for (let i = 0; i < b.positions.length; i += 3) {
          const x = b.positions[i] + penX;
          const y = b.positions[i + 1] + penY;
          const z = b.positions[i + 2];
          for (let c = 0; c < 3; c++) group.positions.push(x * m[c] + y * m[4 + c] + z * m[8 + c] + m[12 + c]);
        }
        for (const v of b.indices) group.indices.push(v + base);
      }
      penX += glyph.advance[0];
      penY += glyph.advance[1];
    }
    return groups.map((g) => ({
      ...g.batch, positions: Float32Array.from(g.positions), indices: Uint32Array.from(g.indices),
    }));
  }

  // Nodes that follow one another in the drawing order and draw with the same state are drawn by one call:
  // their vertices in one buffer, each marked with its node's slot, and each slot's matrix in a uniform array.
  // Every vertex is multiplied by the very matrix it met when its node was drawn alone, and a call rasterises
  // its triangles in order, so the picture is that of the calls one by one.
  const surfaceVS = (slots) => `
#define SLOTS ${slots}
attribute vec3 a_position;
attribute float a_slot;
uniform mat4 u_mvp[SLOTS];
void main() { gl_Position = u_mvp[int(a_slot + 0.5)] * vec4(a_position, 1.0); }`;
  const SURFACE_FS = `
precision mediump float;
uniform vec4 u_color;
void main() { gl_FragColor = u_color; }`;
  // A segment is widened on screen into a quad, as OpenGL widens a line: a smooth line is a rectangle
  // `width` pixels across, its edges fading over one pixel; an aliased one is widened along the screen's
  // minor axis of the segment.
  const lineVS = (slots) => `
#define SLOTS ${slots}
attribute vec3 a_from;
attribute vec3 a_to;
attribute vec2 a_corner;
attribute vec4 a_color;
attribute float a_slot;
uniform mat4 u_mvp[SLOTS];
uniform vec2 u_half;
uniform float u_reach;
uniform mediump float u_smooth;
varying vec4 v_color;
varying float v_across;
void main() {
  mat4 mvp = u_mvp[int(a_slot + 0.5)];
  vec4 p0 = mvp * vec4(a_from, 1.0);
  vec4 p1 = mvp * vec4(a_to, 1.0);
  vec2 s0 = p0.xy / p0.w * u_half;
  vec2 s1 = p1.xy / p1.w * u_half;
  vec2 d = s1 - s0;
  float len = length(d);
  d = len > 0.0 ? d / len : vec2(1.0, 0.0);
  vec2 side = u_smooth > 0.5 ? vec2(-d.y, d.x) : (abs(d.x) >= abs(d.y) ? vec2(0.0, 1.0) : vec2(1.0, 0.0));
  vec4 p = a_corner.x < 0.5 ? p0 : p1;
  v_across = a_corner.y * u_reach;
  gl_Position = p + vec4(side * v_across / u_half * p.w, 0.0, 0.0);
  v_color = a_color;
}`;
  const LINE_FS = `
precision mediump float;
uniform float u_width;
uniform mediump float u_smooth;
varying vec4 v_color;
varying float v_across;
void main() {
  float cover = u_smooth > 0.5 ? clamp(u_width * 0.5 + 0.5 - abs(v_across), 0.0, 1.0) : 1.0;
  gl_FragColor = vec4(v_color.rgb, v_color.a * cover);
}`;

  function compile(gl, vs, fs) {
    const program = gl.createProgram();
    for (const [type, text] of [[gl.VERTEX_SHADER, vs], [gl.FRAGMENT_SHADER, fs]]) {
      const shader = gl.createShader(type);
      gl.shaderSource(shader, text);
      gl.compileShader(shader);
      if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(shader));
      gl.attachShader(program, shader);
    }
    gl.linkProgram(program);
    if (!gl.getProgramParameter(program, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(program));
    const find = (kind, names) => Object.fromEntries(names.map((n) => [n, kind(program, n)]));
    return {
      program,
      attrib: find(gl.getAttribLocation.bind(gl), ['a_position', 'a_slot', 'a_from', 'a_to', 'a_corner', 'a_color']),
      uniform: find(gl.getUniformLocation.bind(gl), ['u_mvp', 'u_color', 'u_half', 'u_reach', 'u_smooth', 'u_width']),
    };
  }

  // The colour a surface of material `m` shows under the light model's `ambient`, or null where the node has
  // no material (its surfaces are not drawn).
  function surfaceColor(m, ambient) {
    if (!m) return null;
    return [0, 1, 2].map((c) => Math.min(1, Math.max(0, m.emission[c] + m.ambient[c] * ambient[c])))
      .concat([m.diffuse[3]]);
  }

  // What a batch needs set around its call; batches of one state may share a call.
  // A surface's colour is part of it: a uniform, exactly the colour given, where a varying might be
  // interpolated a last bit away from it.
  function stateOf(batch, material, color) {
    if (!batch.lines) return `s ${material.cull} ${batch.depthWrite} ${color.join()}`;
    return `l ${batch.width} ${batch.smooth} ${blends(batch)} ${batch.depthWrite}`;
  }

  // Whether a line batch is blended: smoothed edges fade, and a stippled line is drawn through the blend too.
  function blends(batch) {
    return batch.smooth || batch.pattern !== 0xFFFF;
  }

  // Whether what was made from `fresh`'s values (kept beside them in `kept`) still holds.
  function holds(kept, fresh) {
    return !!kept && Object.keys(fresh).every((k) => kept[k] === fresh[k]);
  }

  const LINE_STRIDE = 40;  // bytes a line vertex: both ends, its corner, its colour and its node's slot

  // Six corners per segment (two triangles), each with both ends, its corner, its end's colour and the slot,
  // written into `data` from vertex `at` on.
  function lineVertices(batch, slot, data, at) {
    const corners = [[0, -1], [1, -1], [1, 1], [0, -1], [1, 1], [0, 1]];
    const segments = batch.indices.length / 2;
    const f = new Float32Array(data);
    const b = new Uint8Array(data);
    for (let s = 0; s < segments; s++) {
      const a = batch.indices[s * 2];
      const c = batch.indices[s * 2 + 1];
      for (let k = 0; k < 6; k++) {
        const o = (at + s * 6 + k) * LINE_STRIDE / 4;
        f.set(batch.positions.subarray(a * 3, a * 3 + 3), o);
        f.set(batch.positions.subarray(c * 3, c * 3 + 3), o + 3);
        f[o + 6] = corners[k][0];
        f[o + 7] = corners[k][1];
        const end = corners[k][0] === 0 ? a : c;
        b.set(batch.colors.subarray(end * 4, end * 4 + 4), o * 4 + 32);
        f[o + 9] = slot;
      }
    }
  }

  class Renderer {
    constructor(canvas, gl, version) {
      this.canvas = canvas;
      this.gl = gl;
      this.version = version;
      this.scenes = new Map();  // gauge index → {sequence, camera, nodes}
      this.fonts = new Map();   // font key → its glyphs
      this.generation = 0;      // a lost and restored context needs its buffers made again
      this.lost = false;
      this.cost = { frames: 0, ms: 0, partial: 0, pixels: 0, tilePixels: 0, calls: 0 };
      // Each tile's canvas keeps its picture, so a change is drawn only where it shows: what each tile shows,
      // by its canvas (see damage). False draws every tile whole (for comparing the two).
      this.partial = true;
      // A part drawn again skips the nodes whose pixels lie outside it (false draws them all, for comparing).
      this.skipOutside = true;
      // Nodes of one state that follow one another are drawn by one call (false: a call a batch, for comparing).
      this.merge = true;
      // A part is read back from the canvas (false: the canvas drawn into the tile, for comparing).
      this.readParts = true;
      this.shownIn = new WeakMap();
      this.watched = new WeakSet();  // tile canvases whose loss of their picture is listened for
      this.fontsCame = 0;
      this.setUp();
      canvas.addEventListener('webglcontextlost', (e) => { e.preventDefault(); this.lost = true; });
      canvas.addEventListener('webglcontextrestored', () => { this.lost = false; this.setUp(); });
    }

    setUp() {
      const gl = this.gl;
      this.generation++;
      // Nodes a call: a slot takes a matrix (four of the vertex shader's uniform vectors), a few vectors are
      // left for the rest.
      const vectors = gl.getParameter(gl.MAX_VERTEX_UNIFORM_VECTORS);
      this.slots = Math.max(1, Math.min(64, Math.floor((vectors - 8) / 4)));
      this.surface = compile(gl, surfaceVS(this.slots), SURFACE_FS);
      this.line = compile(gl, lineVS(this.slots), LINE_FS);
      this.uint32 = this.version === 2 || !!gl.getExtension('OES_element_index_uint');
      this.samples = null;  // the multisampled target, made at the first final picture
    }

    // WebGL 2 draws a final picture into its own multisampled framebuffer (as many samples as the canvas
    // would have had, at most 4) and resolves it into the canvas; a draft goes into the canvas directly, at
    // a quarter of the rasterising. WebGL 1 has only the canvas's own multisampling: every picture is final.
    multisampled() {
      const gl = this.gl;
      const width = this.canvas.width;
      const height = this.canvas.height;
      const s = this.samples;
      if (s && s.generation === this.generation && s.width === width && s.height === height) {
        return s.complete ? s : null;
      }
      if (s && s.generation === this.generation) {
        gl.deleteFramebuffer(s.framebuffer);
        gl.deleteRenderbuffer(s.color);
        gl.deleteRenderbuffer(s.depth);
      }
      const count = Math.min(4, gl.getParameter(gl.MAX_SAMPLES));
      const storage = (format) => {
        const buffer = gl.createRenderbuffer();
        gl.bindRenderbuffer(gl.RENDERBUFFER, buffer);
        gl.renderbufferStorageMultisample(gl.RENDERBUFFER, count, format, width, height);
        return buffer;
      };
      // A resolving blit needs the canvas's own format: RGB8, the canvas having no alpha.
      const color = storage(gl.RGB8);
      const depth = storage(gl.DEPTH_COMPONENT24);
      const framebuffer = gl.createFramebuffer();
      gl.bindFramebuffer(gl.FRAMEBUFFER, framebuffer);
      gl.framebufferRenderbuffer(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.RENDERBUFFER, color);
      gl.framebufferRenderbuffer(gl.FRAMEBUFFER, gl.DEPTH_ATTACHMENT, gl.RENDERBUFFER, depth);
      const complete = gl.checkFramebufferStatus(gl.FRAMEBUFFER) === gl.FRAMEBUFFER_COMPLETE;
      gl.bindFramebuffer(gl.FRAMEBUFFER, null);
      this.samples = { generation: this.generation, width, height, framebuffer, color, depth, count, complete };
      if (!complete) this.problem = 'no multisampled framebuffer: drawn without anti-aliasing';
      return complete ? this.samples : null;
    }

    // Takes a SCENE, CATCH-UP or DELTA message; the gauge index it changed, or -1 (another kind, or one that
    // does not fit). A SCENE is kept as it came: a catch-up applies to it as it was exported. One that came
    // from the server is also kept for the next visit.
    take(buffer, fromServer = true) {
      const head = new DataView(buffer);
      if (buffer.byteLength < 8) return -1;
      const kind = head.getUint8(0);
      const gauge = head.getUint8(1);
      const count = head.getUint16(2, true);
      const sequence = head.getUint32(4, true);
      try {
        if (kind === FONT_KIND) {
          this.fonts.set(sequence, readFont(new Reader(buffer, 8), count));
          this.fontsCame++;  // texts waiting for it appear without a change of theirs: tiles are drawn whole
          if (fromServer) keep(`font-${sequence}`, buffer);
          return -1;
        }
        if (kind === SCENE_KIND) {
          const scene = this.readScene(new Reader(buffer, 8), count);
          // Drawn once the server's catch-up has said how the gauge stands now.
          this.scenes.set(gauge, { ...scene, id: sequence, base: buffer, sequence: 0, ready: false });
          if (fromServer) keep(gauge, buffer);
          return gauge;
        }
        let scene = this.scenes.get(gauge);
        if (!scene) return -1;
        if (kind === CATCH_UP_KIND) {
          // From the scene as exported, whatever this copy went through since.
          const base = new DataView(scene.base);
          scene = { ...scene, ...this.readScene(new Reader(scene.base, 8), base.getUint16(2, true)), ready: true };
          this.scenes.set(gauge, scene);
        } else if (kind !== DELTA_KIND || sequence <= scene.sequence) {
          return -1;
        }
        this.applyDelta(scene, new Reader(buffer, 8), count);
        scene.sequence = sequence;
        return gauge;
      } catch (e) {
        // A message that does not read whole: the gauge keeps what it had; its next scene sets it right.
        this.problem = String(e);
        return -1;
      }
    }

    // Whether a draft is cheaper than a final picture here (multisampling of its own: WebGL 2).
    get drafts() { return this.version === 2; }

    // The fonts this browser has, by key.
    fontKeys() { return [...this.fonts.keys()]; }

    // What a shape's batch draws: itself, or a run's glyphs once its font is here (nothing before).
    drawn(batch) {
      if (!batch.run) return [batch];
      if (!batch.expanded) {
        const glyphs = this.fonts.get(batch.font);
        if (!glyphs) return [];
        batch.expanded = expandRun(batch, glyphs);
      }
      return batch.expanded;
    }

    // The scene this browser has of a gauge, from before or from the server: its identity, or 0.
    kept(gauge) {
      const scene = this.scenes.get(gauge);
      return scene ? scene.id : 0;
    }

    // The scenes kept from the last visit, taken as if they had just come.
    async takeKept() {
      for (const [gauge, buffer] of await keptScenes()) this.take(buffer, false);
    }

    readScene(r, count) {
      const camera = { view: null };
      const view = r.floats(16);
      camera.view = Float64Array.from(view);
      camera.focal = r.f32();
      camera.bias = r.f32();
      camera.depthOfView = r.f32();
      camera.style = r.u8();
      r.pad();
      camera.background = r.floats(4);
      camera.ambient = r.floats(4);
      const nodes = [];
      for (let i = 0; i < count; i++) {
        const parent = r.u16();
        const flags = r.u8();
        const batchCount = r.u8();
        const local = readMatrix(r);
        const material = (flags & 2) ? readMaterial(r) : null;
        if (parent !== 0xFFFF && parent >= i) throw new RangeError('a node before its parent');
        nodes.push({ parent: parent === 0xFFFF ? -1 : parent, visible: (flags & 1) !== 0, local, material,
          batches: readShape(r, batchCount) });
      }
      return { camera, nodes };
    }

    applyDelta(scene, r, count) {
      for (let i = 0; i < count; i++) {
        const node = scene.nodes[r.u16()];
        const op = r.u8();
        r.u8();
        if (!node) throw new RangeError('no such node');
        node.version = (node.version || 0) + 1;  // what a tile drew of it is out of date
        if ((op === 3 || op === 4) && !node.volatile) {
          // A node whose shapes or material change (a read-out's text) is drawn by calls of its own, so that
          // its changes do not rebuild the calls it shared.
          node.volatile = true;
          scene.layout = (scene.layout || 0) + 1;
        }
        if (op === 1) node.local = readMatrix(r);
        else if (op === 2) { node.visible = r.u8() !== 0; r.pad(); } else if (op === 3) node.material = readMaterial(r);
        else if (op === 4) { const n = r.u8(); r.pad(); node.batches = readShape(r, n); } else throw new RangeError('op');
      }
    }

    // Draws the gauge at `size` device pixels into `target` (a 2D canvas of that size), turned clockwise by
    // `turns` quarters; a `draft` without multisampling where the context can tell the two apart. False when
    // there is nothing to draw yet.
    draw(gauge, size, turns, target, draft = false) {
      const scene = this.scenes.get(gauge);
      if (!scene || !scene.ready || this.lost) return false;
      const started = performance.now();
      const gl = this.gl;
      if (this.canvas.width < size || this.canvas.height < size) {
        this.canvas.width = Math.max(this.canvas.width, size);
        this.canvas.height = Math.max(this.canvas.height, size);
      }
      const viewProjection = multiply(scene.camera.view, projection(scene.camera, size));
      const pose = this.pose(scene);
      const tile = { scene, size, turns, generation: this.generation, fonts: this.fontsCame, draft };
      const rect = this.damage(target, tile, pose, viewProjection);
      if (rect) {
        this.drawRect(scene, pose, viewProjection, size, rect, draft, this.shownIn.get(target).nodes);
        this.copy(target, size, turns, rect);
        this.cost.partial += rect[2] - rect[0] < size || rect[3] - rect[1] < size ? 1 : 0;
        this.cost.pixels += (rect[2] - rect[0]) * (rect[3] - rect[1]);
      }
      this.cost.tilePixels += size * size;
      this.cost.frames++;
      this.cost.ms += performance.now() - started;
      return true;
    }

    // Every node's world matrix and whether it is shown (its own flag and its ancestors').
    pose(scene) {
      const world = new Array(scene.nodes.length);
      const shown = new Array(scene.nodes.length);
      scene.nodes.forEach((node, i) => {
        world[i] = node.parent < 0 ? node.local : multiply(node.local, world[node.parent]);
        shown[i] = node.visible && (node.parent < 0 || shown[node.parent]);
      });
      return { world, shown };
    }

    // The pixels of a node's own shapes at its pose, widened by what rasterising adds around a shape (wide and
    // smoothed lines, multisampled edges); the whole picture where a corner lies behind the eye.
    nodeRect(node, world, viewProjection, size) {
      let box = null;
      let margin = 2;
      for (const batch of node.batches.flatMap((b) => this.drawn(b))) {
        const b = boundsOf(batch);
        if (!b) continue;
        box = box ? [0, 1, 2].map((c) => Math.min(box[c], b[c])).concat([3, 4, 5].map((c) => Math.max(box[c], b[c])))
          : b;
        if (batch.lines) margin = Math.max(margin, Math.ceil((batch.width > 0 ? batch.width : 1) / 2) + 2);
      }
      if (!box) return null;
      const m = multiply(world, viewProjection);
      let x0 = Infinity; let y0 = Infinity; let x1 = -Infinity; let y1 = -Infinity;
      for (let k = 0; k < 8; k++) {
        const x = box[k & 1 ? 3 : 0];
        const y = box[k & 2 ? 4 : 1];
        const z = box[k & 4 ? 5 : 2];
        const w = x * m[3] + y * m[7] + z * m[11] + m[15];
        if (!(w > 0)) return [0, 0, size, size];
        const px = ((x * m[0] + y * m[4] + z * m[8] + m[12]) / w + 1) * size / 2;
        const py = ((x * m[1] + y * m[5] + z * m[9] + m[13]) / w + 1) * size / 2;
        x0 = Math.min(x0, px); x1 = Math.max(x1, px); y0 = Math.min(y0, py); y1 = Math.max(y1, py);
      }
      const clamp = (v) => Math.max(0, Math.min(size, v));
      const r = [clamp(Math.floor(x0) - margin), clamp(Math.floor(y0) - margin), clamp(Math.ceil(x1) + margin),
        clamp(Math.ceil(y1) + margin)];
      return r[0] < r[2] && r[1] < r[3] ? r : null;
    }

    // What must be drawn again in `target` for the tile to show the scene at `pose`: null when nothing it
    // shows changed, the whole picture when the tile is new to it (another gauge, size, turn, scene or context,
    // a font come since, or partial drawing off), otherwise the union of where each changed node was and where
    // it is now, and, for a final picture after drafts, of all the drafts drew since the last final one. Inside
    // that rectangle every node is drawn, so the pixels are those of a whole picture. Remembers what the tile
    // now shows.
    damage(target, tile, pose, viewProjection) {
      const { scene, size } = tile;
      const before = this.shownIn.get(target);
      if (!this.watched.has(target)) {
        this.watched.add(target);
        target.addEventListener('contextrestored', () => this.forget(target));
      }
      const whole = !this.partial || !before || before.scene !== scene || before.size !== size ||
        before.turns !== tile.turns || before.generation !== tile.generation || before.fonts !== tile.fonts;
      // Where the tile shows drafts: all a final picture must draw again besides what changed.
      const drafted = whole ? null : before.drafted;
      let rect = whole ? [0, 0, size, size] : (tile.draft ? null : drafted);
      const nodes = scene.nodes.map((node, i) => {
        const was = whole ? null : before.nodes[i];
        const version = node.version || 0;
        if (was && was.shown === pose.shown[i] && was.version === version && sameMatrix(was.world, pose.world[i])) {
          return was;
        }
        const now = { shown: pose.shown[i], version, world: pose.world[i],
          rect: pose.shown[i] ? this.nodeRect(node, pose.world[i], viewProjection, size) : null };
        if (!whole) rect = union(union(rect, was && was.rect), now.rect);
        return now;
      });
      this.shownIn.set(target, { ...tile, nodes, drafted: tile.draft ? union(drafted, rect) : null });
      return rect;
    }

    // The tile's canvas was cleared (resized, or its context restored): its next picture is drawn whole.
    forget(target) {
      this.shownIn.delete(target);
    }

    // Draws the scene inside `rect` of the canvas (or of the multisampled target, resolved into the canvas).
    // `shown` is what damage recorded of each node, its pixels among it: a node whose pixels miss `rect` is not
    // drawn, as the scissor would discard all it gave, and a software renderer still pays for its vertices.
    drawRect(scene, pose, viewProjection, size, rect, draft, shown) {
      const gl = this.gl;
      const samples = this.drafts && !draft ? this.multisampled() : null;
      if (samples) gl.bindFramebuffer(gl.FRAMEBUFFER, samples.framebuffer);
      const bg = scene.camera.background;
      const [x0, y0, x1, y1] = rect;
      gl.viewport(0, 0, size, size);
      gl.enable(gl.SCISSOR_TEST);
      gl.scissor(x0, y0, x1 - x0, y1 - y0);
      gl.clearColor(bg[0], bg[1], bg[2], 1);
      gl.depthMask(true);
      gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
      gl.enable(gl.DEPTH_TEST);
      gl.depthFunc(gl.LEQUAL);
      gl.frontFace(gl.CCW);
      gl.cullFace(gl.BACK);
      const inside = this.skipOutside ? (i) => overlaps(shown[i].rect, rect) : () => true;
      this.drawNodes(scene, pose, viewProjection, size, inside);
      if (samples) {
        gl.bindFramebuffer(gl.READ_FRAMEBUFFER, samples.framebuffer);
        gl.bindFramebuffer(gl.DRAW_FRAMEBUFFER, null);
        gl.blitFramebuffer(x0, y0, x1, y1, x0, y0, x1, y1, gl.COLOR_BUFFER_BIT, gl.NEAREST);
        gl.bindFramebuffer(gl.FRAMEBUFFER, null);
      }
    }

    // Copies `rect` of the canvas's picture into the tile's canvas, turned clockwise by `turns` quarters. The
    // part is read back and put in place (readParts): drawing a WebGL canvas into a 2D one copies all its
    // pixels first (some 3 ms at 412 px however small the part), reading back copies the part's alone.
    copy(target, size, turns, rect) {
      if (this.gl.isContextLost()) return;  // nothing to read: the tile keeps its picture until the restore
      const [x0, y0, x1, y1] = rect;
      const width = x1 - x0;
      const height = y1 - y0;
      const quarter = ((turns % 4) + 4) % 4;
      const ctx = target.getContext('2d');
      let source = this.canvas;
      let from = [x0, this.canvas.height - y1];  // GL rows count up from the canvas's bottom, the tile's down
      if (this.readParts) {
        const picture = this.readBack(rect);
        if (quarter === 0) {
          ctx.putImageData(picture, x0, size - y1, 0, 0, width, height);
          return;
        }
        if (!this.turning || this.turning.width < width || this.turning.height < height) {
          this.turning = document.createElement('canvas');
          this.turning.width = this.canvas.width;
          this.turning.height = this.canvas.height;
        }
        this.turning.getContext('2d').putImageData(picture, 0, 0, 0, 0, width, height);
        source = this.turning;
        from = [0, 0];
      }
      ctx.save();
      // Exact quarter turns about the middle, and no smoothing: a part copied lands on the very pixels a whole
      // copy would give it.
      const turn = [[1, 0, 0, 1, 0, 0], [0, 1, -1, 0, size, 0], [-1, 0, 0, -1, size, size], [0, -1, 1, 0, 0, size]];
      ctx.setTransform(...turn[quarter]);
      ctx.imageSmoothingEnabled = false;
      ctx.drawImage(source, from[0], from[1], width, height, x0, size - y1, width, height);
      ctx.restore();
    }

    // The canvas's pixels in `rect`, top row first, in the top left corner of a kept ImageData.
    readBack(rect) {
      const gl = this.gl;
      const [x0, y0, x1, y1] = rect;
      const width = x1 - x0;
      const height = y1 - y0;
      if (!this.picture || this.picture.width < width || this.picture.height < height) {
        this.rows = new Uint8Array(this.canvas.width * this.canvas.height * 4);
        this.picture = new ImageData(this.canvas.width, this.canvas.height);
      }
      const rows = this.rows.subarray(0, width * height * 4);
      gl.readPixels(x0, y0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, rows);
      const stride = this.picture.width * 4;
      for (let r = 0; r < height; r++) {
        this.picture.data.set(rows.subarray((height - 1 - r) * width * 4, (height - r) * width * 4), r * stride);
      }
      return this.picture;
    }

    drawNodes(scene, pose, viewProjection, size, inside) {
      const matrices = new Array(scene.nodes.length);
      const drawn = {
        includes: (i) => pose.shown[i] && inside(i),
        matrix: (i) => matrices[i] || (matrices[i] = new Float32Array(multiply(pose.world[i], viewProjection))),
      };
      for (const step of this.plan(scene)) {
        const i = step.volatile;
        const groups = i === undefined ? [step] : this.ownGroups(scene.nodes[i], i, scene.camera.ambient);
        for (const group of groups) this.drawGroup(group, drawn, size);
      }
      this.gl.depthMask(true);
    }

    // The scene's calls in drawing order: groups of batches, and in their place the nodes that change shape or
    // material ({volatile: node}), whose calls are their own. Made again when the scene's nodes, the nodes
    // that change, the fonts, the context or the merging change.
    plan(scene) {
      const p = scene.plan;
      const fresh = { nodes: scene.nodes, layout: scene.layout, fonts: this.fontsCame, generation: this.generation,
        merge: this.merge };
      if (holds(p, fresh)) return p.steps;
      if (p) this.release(p.steps);
      if (p && p.nodes !== scene.nodes) {
        for (const node of p.nodes) if (node.own) this.release(node.own.groups);
      }
      const steps = [];
      let run = [];
      scene.nodes.forEach((node, i) => {
        if (!node.volatile) {
          run.push(...this.entries(node, i, scene.camera.ambient));
          return;
        }
        steps.push(...this.group(run), { volatile: i });
        run = [];
      });
      steps.push(...this.group(run));
      scene.plan = { ...fresh, steps };
      return steps;
    }

    // The calls of a node that changes, made again when its shapes or material change.
    ownGroups(node, i, ambient) {
      const o = node.own;
      const fresh = { batches: node.batches, material: node.material, fonts: this.fontsCame,
        generation: this.generation, merge: this.merge };
      if (holds(o, fresh)) return o.groups;
      if (o) this.release(o.groups);
      node.own = { ...fresh, groups: this.group(this.entries(node, i, ambient)) };
      return node.own.groups;
    }

    // What a node draws, in order: its line batches, and its surfaces where it has a material to colour them.
    entries(node, i, ambient) {
      const color = surfaceColor(node.material, ambient);
      return node.batches.flatMap((b) => this.drawn(b)).filter((batch) => batch.lines || color).map((batch) => ({
        node: i, batch, cull: !batch.lines && node.material.cull, color, state: stateOf(batch, node.material, color),
      }));
    }

    // Consecutive entries of one state share a group, up to `slots` nodes and, for surfaces, 65535 vertices
    // (16-bit indices); with merging off, every entry is a group.
    group(entries) {
      const groups = [];
      let open = null;
      for (const { node, batch, cull, color, state } of entries) {
        const vertices = batch.lines ? batch.indices.length * 3 : batch.positions.length / 3;
        const fits = open && this.merge && open.state === state &&
          (open.slots[open.slots.length - 1] === node || open.slots.length < this.slots) &&
          (batch.lines || open.vertices + vertices <= 65535);
        if (!fits) {
          open = { state, cull, color, lines: batch.lines, first: batch, slots: [], items: [], vertices: 0, gpu: null };
          groups.push(open);
        }
        if (open.slots[open.slots.length - 1] !== node) open.slots.push(node);
        open.items.push({ node, slot: open.slots.length - 1, batch, first: 0, count: 0 });
        open.vertices += vertices;
      }
      return groups;
    }

    release(groups) {
      for (const g of groups) {
        if (!g.gpu || g.gpu.generation !== this.generation) continue;
        this.gl.deleteBuffer(g.gpu.buffer);
        if (g.gpu.indices) this.gl.deleteBuffer(g.gpu.indices);
      }
    }

    // The group's vertices (and indices) on the GPU, and where each item's elements lie among them.
    upload(group) {
      const gl = this.gl;
      if (group.gpu && group.gpu.generation === this.generation) return group.gpu;
      const gpu = { generation: this.generation, buffer: gl.createBuffer(), indices: null, type: 0 };
      gl.bindBuffer(gl.ARRAY_BUFFER, gpu.buffer);
      if (group.lines) {
        const data = new ArrayBuffer(group.vertices * LINE_STRIDE);
        let at = 0;
        for (const item of group.items) {
          lineVertices(item.batch, item.slot, data, at);
          item.first = at;
          item.count = item.batch.indices.length * 3;
          at += item.count;
        }
        gl.bufferData(gl.ARRAY_BUFFER, data, gl.STATIC_DRAW);
      } else {
        // One batch beyond 16-bit indices, where the context has no 32-bit ones, is drawn unindexed.
        const indexed = group.vertices <= 65535 || this.uint32;
        const total = indexed ? group.vertices : group.items[0].batch.indices.length;
        const data = new Float32Array(total * 4);
        const indices = [];
        let base = 0;
        for (const item of group.items) {
          const { positions, indices: own } = item.batch;
          const put = (v, to) => {
            data.set(positions.subarray(v * 3, v * 3 + 3), to * 4);
            data[to * 4 + 3] = item.slot;
          };
          if (indexed) {
            for (let v = 0; v < positions.length / 3; v++) put(v, base + v);
            item.first = indices.length;
            for (const v of own) indices.push(v + base);
            base += positions.length / 3;
          } else {
            own.forEach((v, k) => put(v, k));
            item.first = 0;
          }
          item.count = own.length;
        }
        gl.bufferData(gl.ARRAY_BUFFER, data, gl.STATIC_DRAW);
        if (indexed) {
          const small = group.vertices <= 65535;
          gpu.indices = gl.createBuffer();
          gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, gpu.indices);
          gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, small ? Uint16Array.from(indices) : Uint32Array.from(indices),
            gl.STATIC_DRAW);
          gpu.type = small ? gl.UNSIGNED_SHORT : gl.UNSIGNED_INT;
          gpu.bytes = small ? 2 : 4;
        }
      }
      group.gpu = gpu;
      return gpu;
    }

    // Draws the group's items whose nodes are drawn (`drawn.includes`), consecutive ones by one call.
    drawGroup(group, drawn, size) {
      if (!group.items.some((item) => drawn.includes(item.node))) return;
      const gl = this.gl;
      const gpu = this.upload(group);  // places the items
      const ranges = [];
      for (const item of group.items) {
        if (!drawn.includes(item.node)) continue;
        const last = ranges[ranges.length - 1];
        if (last && last[1] === item.first) last[1] += item.count;
        else ranges.push([item.first, item.first + item.count]);
      }
      const p = group.lines ? this.line : this.surface;
      gl.useProgram(p.program);
      const matrices = new Float32Array(group.slots.length * 16);
      group.slots.forEach((node, s) => { if (drawn.includes(node)) matrices.set(drawn.matrix(node), s * 16); });
      gl.uniformMatrix4fv(p.uniform.u_mvp, false, matrices);
      gl.depthMask(group.first.depthWrite);
      gl.bindBuffer(gl.ARRAY_BUFFER, gpu.buffer);
      const attribs = group.lines ? this.lineState(group.first, size) : this.surfaceState(group);
      for (const [loc, n, type, normalized, stride, offset] of attribs) {
        gl.enableVertexAttribArray(loc);
        gl.vertexAttribPointer(loc, n, type, normalized, stride, offset);
      }
      if (gpu.indices) gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, gpu.indices);
      for (const [from, to] of ranges) {
        if (gpu.indices) gl.drawElements(gl.TRIANGLES, to - from, gpu.type, from * gpu.bytes);
        else gl.drawArrays(gl.TRIANGLES, from, to - from);
        this.cost.calls++;
      }
      for (const [loc] of attribs) gl.disableVertexAttribArray(loc);
    }

    // A surface group's culling, colour and vertex layout.
    surfaceState(group) {
      const gl = this.gl;
      const p = this.surface;
      if (group.cull) gl.enable(gl.CULL_FACE); else gl.disable(gl.CULL_FACE);
      gl.disable(gl.BLEND);
      gl.uniform4fv(p.uniform.u_color, group.color);
      return [[p.attrib.a_position, 3, gl.FLOAT, false, 16, 0], [p.attrib.a_slot, 1, gl.FLOAT, false, 16, 12]];
    }

    // A line group's width, smoothing and blending, and its vertex layout.
    lineState(batch, size) {
      const gl = this.gl;
      const p = this.line;
      const width = batch.width > 0 ? batch.width : 1;
      gl.disable(gl.CULL_FACE);  // a widened segment's winding says nothing about its facing
      if (blends(batch)) {
        gl.enable(gl.BLEND);
        gl.blendFunc(gl.SRC_ALPHA, gl.ONE_MINUS_SRC_ALPHA);
      } else {
        gl.disable(gl.BLEND);
      }
      gl.uniform2f(p.uniform.u_half, size / 2, size / 2);
      gl.uniform1f(p.uniform.u_reach, batch.smooth ? width / 2 + 0.5 : width / 2);
      gl.uniform1f(p.uniform.u_width, width);
      gl.uniform1f(p.uniform.u_smooth, batch.smooth ? 1 : 0);
      const a = p.attrib;
      return [[a.a_from, 3, gl.FLOAT, false, LINE_STRIDE, 0], [a.a_to, 3, gl.FLOAT, false, LINE_STRIDE, 12],
        [a.a_corner, 2, gl.FLOAT, false, LINE_STRIDE, 24], [a.a_color, 4, gl.UNSIGNED_BYTE, true, LINE_STRIDE, 32],
        [a.a_slot, 1, gl.FLOAT, false, LINE_STRIDE, 36]];
    }
  }

  // Scenes kept between visits (IndexedDB, which pages served over plain HTTP have too): a reload then costs
  // the catch-ups, not the scenes. Where it cannot be opened nothing is kept.
  let database = null;
  function openDatabase() {
    if (!database) {
      database = new Promise((resolve) => {
        try {
          const request = indexedDB.open('skyvane-scenes', 1);
          request.onupgradeneeded = () => request.result.createObjectStore('scenes');
          request.onsuccess = () => resolve(request.result);
          request.onerror = () => resolve(null);
        } catch (e) {
          resolve(null);
        }
      });
    }
    return database;
  }

  async function keep(gauge, buffer) {
    const db = await openDatabase();
    try {
      if (db) db.transaction('scenes', 'readwrite').objectStore('scenes').put(buffer, gauge);
    } catch (e) { /* full or closed: the next visit loads the scene again */ }
  }

  async function keptScenes() {
    const db = await openDatabase();
    if (!db) return [];
    return new Promise((resolve) => {
      const found = [];
      try {
        const cursor = db.transaction('scenes').objectStore('scenes').openCursor();
        cursor.onsuccess = () => {
          const at = cursor.result;
          if (!at) { resolve(found); return; }
          found.push([at.key, at.value]);
          at.continue();
        };
        cursor.onerror = () => resolve(found);
      } catch (e) {
        resolve(found);
      }
    });
  }

  // A renderer, or null where this browser has no WebGL (the page then asks for pictures).
  function create() {
    const canvas = document.createElement('canvas');
    canvas.width = 64;
    canvas.height = 64;
    const options = { antialias: true, depth: true, alpha: false, premultipliedAlpha: false };
    let gl = null;
    let version = 0;
    try {
      // WebGL 2 multisamples in a framebuffer of its own, so that it can also draw without.
      gl = canvas.getContext('webgl2', { ...options, antialias: false });
      version = gl ? 2 : 0;
      if (!gl) {
        gl = canvas.getContext('webgl', options) || canvas.getContext('experimental-webgl', options);
        version = gl ? 1 : 0;
      }
      if (!gl) problem = 'no WebGL';
      return gl ? new Renderer(canvas, gl, version) : null;
    } catch (e) {
      problem = String(e);
      return null;
    }
  }

  // Why create gave null, for the page's diagnostics.
  let problem = '';
  return { create, problem: () => problem, SCENE_KIND, DELTA_KIND, CATCH_UP_KIND, FONT_KIND };
})();
