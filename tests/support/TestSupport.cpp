// Anchor of the shared test-support library; the helpers live in their own files beside it.
