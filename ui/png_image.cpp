#include "ui/png_image.h"

#include <cstring>

CGdiPlusPng::~CGdiPlusPng() = default;

unsigned CGdiPlusPng::Width() const { return pImage_ ? static_cast<unsigned>(pImage_->Width()) : 0; }

unsigned CGdiPlusPng::Height() const { return pImage_ ? static_cast<unsigned>(pImage_->Height()) : 0; }

void CGdiPlusPng::Draw(platform::CCanvas& canvas, const platform::Rect& dest) const {
  if (pImage_) canvas.DrawImage(*pImage_, dest);
}

void CGdiPlusPng::Draw(platform::CCanvas& canvas, const platform::RectF& dest,
                       const platform::RectF& source) const {
  if (pImage_) canvas.DrawImageRect(*pImage_, dest, source);
}

CGdiPlusPngResource::~CGdiPlusPngResource() { Free(); }

void CGdiPlusPngResource::Free() {
  // The picture goes before the bytes it was decoded from.
  pImage_.reset();
  pBlock_.reset();
  nBlock_ = 0;
}

bool CGdiPlusPngResource::Load(uint16_t nId, std::string_view type, const ResourceEntry* pModule) {
  Free();
  const ResourceEntry* pResource = FindResource(pModule, type, nId);
  if (!pResource || pResource->nSize == 0 || !pResource->pData) return false;
  std::unique_ptr<unsigned char[]> pBlock(new (std::nothrow) unsigned char[pResource->nSize]);
  if (!pBlock) return false;
  std::memcpy(pBlock.get(), pResource->pData, pResource->nSize);
  pImage_ = platform::DecodePng(pBlock.get(), pResource->nSize);
  if (!pImage_) return false;
  pBlock_ = std::move(pBlock);
  nBlock_ = pResource->nSize;
  return true;
}

namespace {
std::unique_ptr<CGdiPlusPngResource> g_pSkin;  // main thread only
}  // namespace

CGdiPlusPngResource* SkinImage() { return g_pSkin.get(); }

void CreateSkinImage() {
  g_pSkin.reset();
  g_pSkin = std::make_unique<CGdiPlusPngResource>();
  g_pSkin->Load(1036, "PNG");
}

void DestroySkinImage() { g_pSkin.reset(); }
