// What is handed down the tree while a scene is drawn for one buffer.
#pragma once

#include "GLMath.h"

class TGLScene;
class TGLSceneBuffer;
class TGLStateCache;

enum class TGLObjectsSorting { osInherited, osNone, osRenderFarthestFirst, osRenderBlendedLast, osRenderNearestFirst };
enum class TGLVisibilityCulling { vcInherited, vcNone, vcObjectBased, vcHierarchical };

struct FrameState {
  TGLScene* scene = nullptr;
  TGLSceneBuffer* buffer = nullptr;
  TGLObjectsSorting sorting = TGLObjectsSorting::osRenderBlendedLast;
  TGLVisibilityCulling culling = TGLVisibilityCulling::vcNone;
  bool bufferFaceCulling = true;
  vm::Vec4 cameraPosition{0, 0, 0, 1};
  vm::Vec4 cameraDirection{0, 0, -1, 0};
  vm::Vec4 cameraUp{0, 1, 0, 0};
  TGLStateCache* stateCache = nullptr;
  bool ignoreMaterials = false;
  bool ignoreBlending = false;
  bool compilingGroupList = false;
};
