"""The declarations a unified diff touches."""
