/* An export whose body the guard check must refuse. */
VORPIX_API int guarded_export(int value);
VORPIX_API int unguarded_export(int value);
