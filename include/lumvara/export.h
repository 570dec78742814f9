/* Symbol export and layout-check macros shared by the public headers. */
#ifndef LUMVARA_EXPORT_H
#define LUMVARA_EXPORT_H

#ifdef __cplusplus
#define LUMVARA_EXTERN_C extern "C"
#define LUMVARA_BEGIN_DECLS extern "C" {
#define LUMVARA_END_DECLS }
#define LUMVARA_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define LUMVARA_EXTERN_C
#define LUMVARA_BEGIN_DECLS
#define LUMVARA_END_DECLS
#define LUMVARA_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Every exported call carries this; the library is built with hidden
   visibility, so nothing else leaves it. */
#define LUMVARA_API __attribute__((visibility("default")))

#endif
